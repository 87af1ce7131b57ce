#ifndef ZELVIK_FONTS_H
#define ZELVIK_FONTS_H

// The form names the family "微软雅黑", which Linux machines rarely have. Map it to a CJK family
// that renders both Chinese and Latin text well.
void installFontSubstitutes();

#endif
