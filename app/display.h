#ifndef DISPLAY_H
#define DISPLAY_H

// How the windows meet the operator's screen: display scaling and the forms' font.
class Display
{
public:
    // Scales the windows with the screen's scale factor, 125 % and 150 % included. Must run
    // before the application object exists.
    static void enableHighDpiScaling();
    // The forms ask for the Windows UI font; where it is missing, a CJK font with narrow
    // Latin glyphs stands in. Needs the application object.
    static void substituteFormFont();
};

#endif // DISPLAY_H
