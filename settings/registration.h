#pragma once
// The shell and browser registration: the browser's image menu entry that
// runs "add.htm", and the verb on JPEG and BMP files that starts the program
// with the file, in the user's language. Written at every save of the options.
class Program;

void registruc(Program& program);
