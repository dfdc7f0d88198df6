#include "settings/language.h"

#include "app/Program.h"

void moui(Program&)
{
    // The caption table arrives with the French translation; until then the
    // windows keep their English design texts.
}
