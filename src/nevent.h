// Events of the text-window toolkit: keys, mouse, application commands, timer ticks.
#ifndef VARNIX_NEVENT_H
#define VARNIX_NEVENT_H

enum {
    evKB = 0,    // key: keycode is what wgetch returned
    evMOUSE = 1, // mouse: keycode is the button state, see NMouseEvent
    evPROG = 2,  // application command: keycode is the command code
    evTIMER = 3, // periodic tick: keycode is 0
};

// Mouse button masks and key codes the toolkit tests (ncurses values, mouse version 2).
constexpr int kClickMask = 4 | 8; // BUTTON1_CLICKED | BUTTON1_DOUBLE_CLICKED
constexpr int kKeyEsc = 27;
constexpr int kKeyEnter = 10;
constexpr int kKeyTab = 9;

class NEvent {
public:
    NEvent(int type, int keycode) : type(type), keycode(keycode) {}
    virtual ~NEvent();
    NEvent(const NEvent&) = delete;
    NEvent& operator=(const NEvent&) = delete;

    int type;
    bool done = false;
    int keycode;
};

class NMouseEvent : public NEvent {
public:
    NMouseEvent(int bstate, int row, int col) : NEvent(evMOUSE, bstate), row(row), col(col) {}
    // True for a left click or double click.
    bool isclick() const { return (keycode & kClickMask) != 0; }

    int row; // screen row
    int col; // screen column
};

#endif
