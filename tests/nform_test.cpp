#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ndraw.h"
#include "ncursesfixture.h"
#include "nform.h"
#include "textutil.h"

namespace {

// A form of 10 x 40 at (2, 5) with two one-row fields of 20 columns at (1, 10) and (3, 10)
// of its inner area; the first holds "host".
class TwoFieldForm : public NForm {
public:
    TwoFieldForm() : NForm(10, 40)
    {
        move(2, 5);
        build();
    }
    void build()
    {
        for (int row : {1, 3}) {
            FIELD* f = new_field(1, 20, row, 10, 0, 0);
            field_opts_off(f, O_AUTOSKIP | O_BLANK);
            addfield(f);
        }
        addfield(nullptr);
        set_field_buffer(fields[0], 0, "host");
        post_form(frm);
    }
    void rebuild()
    {
        delfields();
        build();
    }
    std::string value(int i)
    {
        form_driver(frm, REQ_VALIDATION);
        return rtrim(std::string(field_buffer(fields[static_cast<std::size_t>(i)], 0)));
    }
    int current() { return field_index(current_field(frm)); }
    FIELD* field(int i) { return fields[static_cast<std::size_t>(i)]; }
};

class Form : public NcursesTest {
protected:
    void key(NForm& f, int k)
    {
        NEvent ev(evKB, k);
        f.eventhandle(&ev);
        EXPECT_TRUE(ev.done);
    }
    void keys(NForm& f, const std::string& bytes)
    {
        for (unsigned char c : bytes)
            key(f, c);
    }
    bool click(NForm& f, int row, int col, int button = BUTTON1_CLICKED)
    {
        NMouseEvent ev(button, row, col);
        f.eventhandle(&ev);
        return ev.done;
    }
    // Cursor column inside the form's field area after a refresh.
    int cursorcol(NForm& f)
    {
        f.refresh();
        return getcurx(f.getsubwin());
    }
};

} // namespace

TEST_F(Form, IsAModalFramedDialog)
{
    TwoFieldForm f;
    EXPECT_TRUE(f.ismodal());
    EXPECT_EQ(f.getfieldcount(), 3); // two fields and the closing entry
    lineDrawMode = 1;
    f.refresh();
    EXPECT_EQ(rowtext(f.win, 0, 0, 2), "+-");
    EXPECT_EQ(rowtext(f.win, 9, 38, 2), "-+");
    EXPECT_EQ(rowtext(f.win, 4, 0, 1), "|");
    lineDrawMode = 0;
    f.refresh();
    EXPECT_TRUE(isacs(f.win, 0, 0, ACS_ULCORNER));
}

TEST_F(Form, TitleIsCentredInTheTopLineAndReplaceable)
{
    TwoFieldForm f;
    EXPECT_EQ(f.gettitle(), nullptr);
    f.settitle("Old title");
    f.settitle("Configuration");
    EXPECT_STREQ(f.gettitle(), " Configuration ");
    f.refresh();
    // 40 / 2 - 15 / 2 = 13
    EXPECT_EQ(rowtext(f.win, 0, 13, 15), " Configuration ");
    f.settitle("\xc3\x84nderung"); // counted in characters, not bytes
    EXPECT_EQ(mbstrlen(f.gettitle()), 10);
}

TEST_F(Form, TypingEditsTheCurrentField)
{
    TwoFieldForm f;
    key(f, KEY_END);
    keys(f, ".example");
    EXPECT_EQ(f.value(0), "host.example");
    key(f, KEY_BACKSPACE);
    key(f, 127);
    EXPECT_EQ(f.value(0), "host.examp");
    key(f, KEY_HOME);
    key(f, KEY_DC);
    EXPECT_EQ(f.value(0), "ost.examp");
    key(f, KEY_RIGHT);
    keys(f, "X");
    EXPECT_EQ(f.value(0), "oXst.examp");
    key(f, KEY_LEFT);
    key(f, KEY_LEFT);
    keys(f, "Y");
    EXPECT_EQ(f.value(0), "Yo" "Xst.examp");

    // Delete at the end and Backspace at the start change nothing.
    key(f, KEY_END);
    key(f, KEY_DC);
    key(f, KEY_HOME);
    key(f, KEY_BACKSPACE);
    EXPECT_EQ(f.value(0), "Yo" "Xst.examp");
}

TEST_F(Form, TabGoesToTheEndOfTheNextField)
{
    TwoFieldForm f;
    EXPECT_EQ(f.current(), 0);
    key(f, '\t');
    EXPECT_EQ(f.current(), 1);
    keys(f, "31416");
    key(f, '\t');
    EXPECT_EQ(f.current(), 0);
    EXPECT_EQ(cursorcol(f), 10 + 4);
    EXPECT_EQ(f.value(1), "31416");
}

TEST_F(Form, MultibyteCharactersArriveWholeAndBrokenOnesNot)
{
    TwoFieldForm f;
    key(f, '\t');
    keys(f, "gr\xc3\xbc\xc3\x9f" "e\xe6\x97\xa5");
    EXPECT_EQ(f.value(1), "gr\xc3\xbc\xc3\x9f" "e\xe6\x97\xa5");
    // Broken bytes are dropped.
    TwoFieldForm g;
    key(g, '\t');
    keys(g, "a\xff" "b\xc3" "c\x80" "d");
    EXPECT_EQ(g.value(1), "abcd");
}

TEST_F(Form, ClickPicksTheFieldWithTheCursorAtItsEnd)
{
    TwoFieldForm f;
    key(f, '\t');
    ASSERT_EQ(f.current(), 1);
    // Field 0: form at (2, 5), frame 1, field at (1, 10): screen row 4, column 16.
    EXPECT_TRUE(click(f, 4, 16));
    EXPECT_EQ(f.current(), 0);
    EXPECT_EQ(cursorcol(f), 10 + 4);

    EXPECT_TRUE(click(f, 6, 35, BUTTON1_DOUBLE_CLICKED)); // last column of field 1
    EXPECT_EQ(f.current(), 1);
    EXPECT_TRUE(click(f, 6, 36)); // just right of it
    EXPECT_EQ(f.current(), 1);
}

TEST_F(Form, AClickGoesToTheFieldThatCanBeEdited)
{
    // A wide label (inactive) first in the list, an input over its blank tail.
    struct LabelledForm : TwoFieldForm {
        LabelledForm()
        {
            unpost_form(frm);
            delfields();
            FIELD* label = new_field(1, 30, 1, 2, 0, 0);
            field_opts_off(label, O_ACTIVE);
            addfield(label);
            for (int row : {1, 3})
                addfield(new_field(1, 10, row, 15, 0, 0));
            addfield(nullptr);
            post_form(frm);
        }
    } f;
    key(f, '\t');
    ASSERT_EQ(f.current(), 2);
    EXPECT_TRUE(click(f, 2 + 1 + 1, 5 + 1 + 16));
    EXPECT_EQ(f.current(), 1);
    EXPECT_TRUE(click(f, 2 + 1 + 1, 5 + 1 + 3)); // the label itself selects nothing
    EXPECT_EQ(f.current(), 1);
}

TEST_F(Form, EveryMouseEventIsConsumed)
{
    TwoFieldForm f;
    EXPECT_TRUE(click(f, 2, 5)); // the frame corner
    EXPECT_EQ(f.current(), 0);
    EXPECT_TRUE(click(f, 0, 0)); // outside the form
    EXPECT_TRUE(click(f, 4, 16, BUTTON4_PRESSED)); // wheel over a field selects nothing
    key(f, '\t');
    EXPECT_TRUE(click(f, 4, 16, BUTTON4_PRESSED));
    EXPECT_EQ(f.current(), 1);
    NEvent timer(evTIMER, 0);
    f.eventhandle(&timer);
    EXPECT_FALSE(timer.done);
}

TEST_F(Form, FieldsCanBeReplaced)
{
    TwoFieldForm f;
    keys(f, "x");
    f.rebuild(); // a posted form: the old fields are freed, the new ones work
    EXPECT_EQ(f.getfieldcount(), 3);
    EXPECT_EQ(f.value(0), "host");
    key(f, '\t');
    keys(f, "new");
    EXPECT_EQ(f.value(1), "new");
    // Adding to a closed list opens it again; the form never reads a moved array.
    f.addfield(new_field(1, 5, 5, 1, 0, 0));
    f.addfield(nullptr);
    EXPECT_EQ(f.getfieldcount(), 4);
    key(f, 'q');
    f.delfields();
    EXPECT_EQ(f.getfieldcount(), 0);
    key(f, 'z'); // no fields: still consumed, nothing breaks
}

// A screen that shrank below the form and grew again: the inner window and the fields
// are whole again, show their text and take a full field of input.
TEST_F(Form, FieldsAreWholeAgainAfterTheScreenShrankAndGrew)
{
    TwoFieldForm f;
    key(f, KEY_END);
    keys(f, "XY");
    resizeterm(5, 12);
    f.move(0, 0);
    resizeterm(24, 80);
    f.move(2, 5);
    f.refresh();
    EXPECT_EQ(getmaxy(f.getsubwin()), 8);
    EXPECT_EQ(getmaxx(f.getsubwin()), 38);
    EXPECT_EQ(rowtext(f.getsubwin(), 1, 10, 6), "hostXY") << "what was typed stays";
    keys(f, "0123456789abcdefgh");
    EXPECT_EQ(f.value(0), "hostXY0123456789abcd");
}

// An integer field writes back the number it checked, which puts the cursor at the
// field's start: the digits typed after the first must still follow it.
TEST_F(Form, DigitsTypedIntoAnIntegerFieldStayInOrder)
{
    TwoFieldForm f;
    set_field_type(f.field(1), TYPE_INTEGER, 0, 0L, 99999L);
    key(f, '\t');
    keys(f, "0123");
    EXPECT_EQ(f.value(1), "123");
    EXPECT_EQ(cursorcol(f), 10 + 3);
}
