#pragma once

// What the logger's start-up and shutdown need of the user interface. A desktop provides the
// tray icon and the echo window; a headless logger has neither.
class Frontend {
public:
    virtual ~Frontend() = default;
    // Loads the echo window and hides it at once; it collects lines while hidden.
    virtual void loadEchoWindow() {}
    // Closes the echo window for good (it saves its size and filters).
    virtual void unloadEchoWindow() {}
    // Shows the tray icon with the normal or the alternate picture, or removes it.
    virtual void trayUpdate(bool on, bool alternate) {
        (void)on;
        (void)alternate;
    }
};
