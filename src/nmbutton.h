// NMButton: a one-line button that posts a prepared event when it is clicked or when one
// of its keys is pressed. It fires once.
#ifndef VARNIX_NMBUTTON_H
#define VARNIX_NMBUTTON_H

#include <initializer_list>
#include <memory>
#include <vector>

#include "nstatictext.h"

class NMButton : public NStaticText {
public:
    // The key codes end with 0. The button owns the event until it posts it.
    NMButton(const char* label, NEvent* event, ...);
    NMButton(const char* label, std::unique_ptr<NEvent> event, std::initializer_list<int> keys);
    ~NMButton() override;

    void eventhandle(NEvent* ev) override;

    bool isarmed() const { return event != nullptr; }
    const std::vector<int>& getkeys() const { return keys; }

protected:
    void setlabel(const char* label);
    void fire(NEvent* ev);

    std::unique_ptr<NEvent> event; // null once posted
    std::vector<int> keys;          // whole key codes: KEY_ENTER must not match 'W'
};

#endif
