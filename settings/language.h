#pragma once
// The language switch: every window's captions in English or French.
class Program;

void moui(Program& program);
