#include "platform/ui/application.h"

#include <array>

namespace ui {

// Headless text width: the advance widths, in screen dots, of an 8-point
// sans-serif font at 96 dots an inch, for the printable ASCII characters
// (space to tilde). Every other character of UTF-8 text counts 6 dots for its
// first byte and nothing for its continuation bytes; control characters count
// nothing. The table never changes, so column fitting in a headless run is
// the same everywhere.
namespace {
constexpr std::array<unsigned char, 95> kWidths = {
    // sp  !  "  #  $  %   &  '  (  )  *  +  ,  -  .  /
    3, 3, 4, 7, 5, 10, 6, 2, 4, 4, 5, 7, 3, 4, 3, 4,
    // 0-9                          :  ;  <  =  >  ?  @
    5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 3, 3, 7, 7, 7, 4, 9,
    // A  B  C  D  E  F  G  H  I  J  K  L  M  N  O  P  Q  R  S  T  U  V  W   X  Y  Z
    6, 6, 6, 7, 5, 5, 7, 7, 3, 4, 6, 5, 8, 7, 7, 5, 7, 6, 6, 5, 7, 6, 10, 6, 6, 5,
    // [  \  ]  ^  _  `
    4, 4, 4, 7, 5, 5,
    // a  b  c  d  e  f  g  h  i  j  k  l  m  n  o  p  q  r  s  t  u  v  w  x  y  z
    5, 5, 4, 5, 5, 3, 5, 5, 2, 3, 5, 2, 8, 5, 5, 5, 5, 3, 4, 3, 5, 5, 7, 5, 5, 4,
    // {  |  }  ~
    4, 3, 4, 7,
};
}

int HeadlessTextWidth(const std::string& text)
{
    int width = 0;
    for (unsigned char c : text) {
        if (c >= 32 && c <= 126)
            width += kWidths[c - 32];
        else if (c >= 0xC0)
            width += 6;
    }
    return width;
}

} // namespace ui
