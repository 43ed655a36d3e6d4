#include "Exceptions.h"
#include "KxFlashT.h"
#include "KxLED.h"
#include "_KxProc.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void SendMouse(QWidget* w, QEvent::Type type, Qt::MouseButton button, QPoint at = {3, 3}) {
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent e(type, at, w->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void Click(QWidget* w, Qt::MouseButton button = Qt::LeftButton) {
    SendMouse(w, QEvent::MouseButtonPress, button);
    SendMouse(w, QEvent::MouseButtonRelease, button);
}

// A form with controls, some inside a sub-panel: groups go by form, not by panel. Each control's events
// are written to one shared log.
class ControlTest : public ::testing::Test {
protected:
    void SetUp() override { StopFlashTimer(); }

    TKxBinGControl* Add(const std::string& name, QWidget* parent = nullptr) {
        auto* c = new TKxBinGControl(parent ? parent : &form);
        c->SetOnStatusChanged([this, name](TObject*) { log.push_back(name + ".status"); });
        c->SetOnStatusIntChanged([this, name](TObject*) { log.push_back(name + ".int"); });
        return c;
    }
    QWidget form;
    QWidget* panel = new QWidget(&form);
    std::vector<std::string> log;
};

using Log = std::vector<std::string>;

} // namespace

TEST_F(ControlTest, sameValue_firesNothing) {
    TKxBinGControl* c = Add("c");
    c->SetChecked(false);
    c->SetStatusInt(0);
    c->SetFlashing(false);
    c->SetStatusBit(0);
    c->SetGroupIndex(0);
    EXPECT_TRUE(log.empty());
}

TEST_F(ControlTest, writingChecked_wordEventBeforeStatusEvent) {
    TKxBinGControl* c = Add("c");
    c->SetChecked(true);
    EXPECT_EQ(c->StatusInt(), 1);
    EXPECT_EQ(log, (Log{"c.int", "c.status"}));
    log.clear();
    c->SetChecked(false);
    EXPECT_EQ(c->StatusInt(), 0);
    EXPECT_EQ(log, (Log{"c.int", "c.status"}));
}

TEST_F(ControlTest, writingStatusInt_statusEventBeforeWordEvent) {
    TKxBinGControl* c = Add("c");
    c->SetStatusInt(3);
    EXPECT_TRUE(c->Checked());
    EXPECT_EQ(log, (Log{"c.status", "c.int"}));
    log.clear();
    c->SetStatusInt(2); // bit 0 clears, the rest of the word stays
    EXPECT_FALSE(c->Checked());
    EXPECT_EQ(c->StatusInt(), 2);
}

TEST_F(ControlTest, statusBit_edgeValues) {
    TKxBinGControl* c = Add("c");
    c->SetStatusInt(0x20);
    c->SetStatusBit(5);
    EXPECT_TRUE(c->Checked());
    c->SetStatusBit(32);
    c->SetStatusBit(-1);
    EXPECT_EQ(c->StatusBit(), 5);
    c->SetStatusInt(static_cast<int>(0x80000000u));
    c->SetStatusBit(31);
    EXPECT_TRUE(c->Checked());
    c->SetChecked(false);
    EXPECT_EQ(c->StatusInt(), 0);
}

TEST_F(ControlTest, modeButton_clearsWordEvenWhenAlreadyButton) {
    TKxBinGControl* c = Add("c");
    c->SetMode(mButton);
    c->SetStatusInt(5);
    c->SetMode(mButton);
    EXPECT_EQ(c->StatusInt(), 0);
    EXPECT_FALSE(c->Checked());
    c->SetMode(mRadioButton);
    EXPECT_EQ(c->StatusInt(), 1);
    EXPECT_TRUE(c->Checked());
}

TEST_F(ControlTest, buttonClick_checksOnPressUnchecksOnRelease) {
    TKxBinGControl* c = Add("c");
    c->SetMode(mButton);
    c->SetOnMouseDown([&](TObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        log.push_back(c->Checked() ? "down.checked" : "down.unchecked");
    });
    c->SetOnMouseUp([&](TObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { log.push_back("up"); });
    c->SetOnClick([&](TObject*) { log.push_back("click"); });
    Click(c);
    EXPECT_EQ(log, (Log{"down.unchecked", "c.int", "c.status", "click", "up", "c.int", "c.status"}));
    EXPECT_FALSE(c->Checked());
}

TEST_F(ControlTest, indicatorAndRightButton_mouseEventsFireStateStays) {
    TKxBinGControl* c = Add("c");
    int downs = 0, ups = 0, clicks = 0;
    c->SetOnMouseDown([&](TObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { ++downs; });
    c->SetOnMouseUp([&](TObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { ++ups; });
    c->SetOnClick([&](TObject*) { ++clicks; });
    Click(c);
    c->SetMode(mSwitch);
    Click(c, Qt::RightButton);
    EXPECT_EQ(downs, 2);
    EXPECT_EQ(ups, 2);
    EXPECT_EQ(clicks, 1); // only the left button clicks
    EXPECT_FALSE(c->Checked());
    EXPECT_TRUE(log.empty());
}

TEST_F(ControlTest, radioGroupOfThree_clickOnThirdSelectsItAlone) {
    TKxBinGControl* r[3] = {Add("r0"), Add("r1", panel), Add("r2", panel)};
    for (int i = 0; i < 3; ++i) {
        r[i]->SetStatusBit(i);
        r[i]->SetGroupIndex(1);
        r[i]->SetMode(mRadioButton);
    }
    EXPECT_TRUE(r[0]->Checked());
    Click(r[2]);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(r[i]->StatusInt(), 4) << i;
        EXPECT_EQ(r[i]->Checked(), i == 2) << i;
    }
    Click(r[1]);
    EXPECT_TRUE(r[1]->Checked());
    EXPECT_FALSE(r[2]->Checked());
    EXPECT_FALSE(TKxBinGControl::GroupBusy());
}

TEST_F(ControlTest, fourSwitchesShareOneWord_togglingOneLeavesTheOthers) {
    std::vector<TKxBinGControl*> s;
    for (int i = 0; i < 4; ++i) {
        s.push_back(Add("s" + std::to_string(i), i % 2 ? panel : nullptr));
        s[i]->SetStatusBit(i);
        s[i]->SetGroupIndex(7);
        s[i]->SetMode(mSwitch);
    }
    Click(s[1]);
    Click(s[3]);
    for (auto* c : s)
        EXPECT_EQ(c->StatusInt(), 0b1010);
    Click(s[3]);
    EXPECT_EQ(s[0]->StatusInt(), 0b0010);
    EXPECT_TRUE(s[1]->Checked());
    EXPECT_FALSE(s[3]->Checked());
    EXPECT_FALSE(s[0]->Checked());
}

TEST_F(ControlTest, joiningAGroup_adoptsFirstMembersWord_otherFormsStayApart) {
    TKxBinGControl* first = Add("first");
    first->SetGroupIndex(2);
    first->SetStatusInt(6);
    QWidget otherForm;
    auto* stranger = new TKxBinGControl(&otherForm);
    stranger->SetGroupIndex(2);
    TKxBinGControl* late = Add("late");
    late->SetStatusBit(1);
    late->SetGroupIndex(2);
    EXPECT_EQ(late->StatusInt(), 6);
    EXPECT_TRUE(late->Checked());
    EXPECT_EQ(stranger->StatusInt(), 0);
    late->SetGroupIndex(-1);
    EXPECT_EQ(late->GroupIndex(), 2);
}

TEST_F(ControlTest, handlerThrowingDuringGroupWalk_doesNotFreezeTheGroups) {
    TKxBinGControl* a = Add("a");
    TKxBinGControl* b = Add("b");
    a->SetGroupIndex(1);
    b->SetGroupIndex(1);
    b->SetOnStatusIntChanged([](TObject*) { throw std::runtime_error("handler failed"); });
    EXPECT_THROW(a->SetStatusInt(1), std::runtime_error);
    EXPECT_FALSE(TKxBinGControl::GroupBusy());
    b->SetOnStatusIntChanged({});
    a->SetStatusInt(3);
    EXPECT_EQ(b->StatusInt(), 3);
}

TEST_F(ControlTest, flashing_registersOnlyWhileCheckedAndFollowsFrequency) {
    TKxBinGControl* c = Add("c");
    c->SetFlashing(true);
    EXPECT_EQ(log, (Log{"c.status"}));
    auto entriesOf = [c] {
        std::vector<TFlashEntry> mine;
        for (const TFlashEntry& e : FlashList().Entries())
            if (e.Control == c)
                mine.push_back(e);
        return mine;
    };
    EXPECT_TRUE(entriesOf().empty());
    c->SetChecked(true);
    ASSERT_EQ(entriesOf().size(), 1u);
    EXPECT_EQ(entriesOf()[0].Code, 8u);
    c->SetFrequency(ff4Hz);
    ASSERT_EQ(entriesOf().size(), 1u);
    EXPECT_EQ(entriesOf()[0].Code, 2u);
    EXPECT_EQ(c->accessibleDescription(), "flashing");
    delete c;
    EXPECT_TRUE(entriesOf().empty());
}

TEST_F(ControlTest, accessibleTextFollowsCaptionAndState) {
    TKxBinGControl* c = Add("c");
    c->setObjectName("ledPing");
    EXPECT_EQ(c->accessibleName(), "ledPing");
    c->SetCaption("Ping");
    c->setObjectName("renamed"); // an explicit caption no longer follows the name
    EXPECT_EQ(c->accessibleName(), "Ping");
    EXPECT_EQ(c->accessibleDescription(), "off");
    c->SetChecked(true);
    EXPECT_EQ(c->accessibleDescription(), "on");
}

TEST_F(ControlTest, rightClickMenu_popsUpTheAssignedMenu) {
    TKxBinGControl* c = Add("c");
    QMenu menu;
    menu.addAction("Reset");
    c->SetPopupMenu(&menu);
    QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(2, 2), c->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(c, &e);
    EXPECT_TRUE(menu.isVisible());
    menu.hide();
}

TEST(TKxLEDCreation, ownerThatIsNoWidget_failsAsInvalidCast) {
    QObject notAWidget;
    try {
        TKxLED led(&notAWidget);
        FAIL() << "constructed";
    } catch (const EInvalidCast& e) {
        EXPECT_EQ(std::string(e.what()), "Invalid class typecast");
    }
    QWidget form;
    auto* led = new TKxLED(static_cast<QObject*>(&form));
    EXPECT_EQ(led->parentWidget(), &form);
}
