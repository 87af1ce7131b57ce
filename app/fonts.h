#ifndef ZELVIK_FONTS_H
#define ZELVIK_FONTS_H

// The form names the family "微软雅黑", which Linux machines rarely have: map it to a CJK family
// that renders both Chinese and Latin text well. The form places every widget at fixed
// coordinates, so the captions it gives no font of their own must not take whatever the desktop's
// default font is: the application's default becomes the form's family at 9 points. Call before
// the window is created.
void installFormFonts();

// The first text the window lays out makes fontconfig read its configuration (dozens of XML
// files), the largest single cost of building the form. It needs no display, so this starts it
// on a second thread while the application connects to the display; installFormFonts() waits
// for it. Does nothing where the program is built without fontconfig.
void startReadingFontConfiguration();

#endif
