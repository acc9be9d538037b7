// The control panel window on the offscreen platform: opening values and
// order, enable sets, routing, keys, closing, the window menu and the about
// box, the slider notifications, the layout.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>
#include <QtTest>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "ui/AboutDlg.h"
#include "camera/ControlIds.h"
#include "ui/DialogUnits.h"
#include "tests/ui/ModalWatcher.h"
#include "ui/FrameworkTexts.h"
#include "ui/PelvarDlg.h"
#include "ui/PelvarIcon.h"
#include "ui/SliderNotifier.h"
#include "ui/TrafficPane.h"

using namespace pelvar;

namespace {

void NoPorts(IPortList& list) { list.Clear(); }

// Records every handler call as text, in order.
class CRecordingDlg : public CPelvarDlg {
public:
    explicit CRecordingDlg(PortListFiller fill = NoPorts) : CPelvarDlg(std::move(fill)) {}

    void OnConnect() override { calls.push_back("OnConnect"); }
    void OnDisconnect() override { calls.push_back("OnDisconnect"); }
    void OnPortSelChange() override { calls.push_back("OnPortSelChange"); }
    void OnRegisterWrite() override { calls.push_back("OnRegisterWrite"); }
    void OnRegisterRead() override { calls.push_back("OnRegisterRead"); }
    void OnFunctionButton(int id) override { calls.push_back("OnFunctionButton " + std::to_string(id)); }
    void OnHScroll(unsigned code, unsigned position, int id) override
    {
        scrolls.push_back(std::to_string(id) + ":" + std::to_string(code) + ":" + std::to_string(position));
    }

    QString Scrolls() const
    {
        QStringList parts;
        for (const std::string& s : scrolls) {
            parts << QString::fromStdString(s);
        }
        return parts.join(' ');
    }

    std::vector<std::string> calls;
    std::vector<std::string> scrolls;
};

// Waits (while a modal loop runs) for a top-level widget that `match`
// accepts, hands it to `act` once, and gives up after two seconds.
QWidget* ActiveAboutBox() { return qobject_cast<CAboutDlg*>(QApplication::activeModalWidget()); }

QWidget* ActiveMenu() { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); }

// Closes an about box with its OK button, noting its caption and texts.
std::function<void(QWidget*)> CloseAbout(QString* seen)
{
    return [seen](QWidget* box) {
        *seen = box->windowTitle();
        for (QLabel* label : box->findChildren<QLabel*>()) {
            if (!label->text().isEmpty()) {
                *seen += '|' + label->text();
            }
        }
        box->findChild<QPushButton*>(QStringLiteral("control1"))->click();
    };
}

// A point of the panel's own background: left of every group frame.
QPoint BackgroundPoint(const CPelvarDlg& dlg) { return QPoint(2, dlg.Control(IDC_BRIGHTNESS_LABEL)->y()); }

const std::vector<int> kSliders = {IDC_BRIGHTNESS, IDC_CONTRAST, IDC_RED, IDC_GREEN, IDC_BLUE};
const std::vector<int> kValueBoxes = {IDC_BRIGHTNESS_VALUE, IDC_CONTRAST_VALUE, IDC_RED_VALUE, IDC_GREEN_VALUE,
                                      IDC_BLUE_VALUE};
const std::vector<int> kIdsWithoutControl = {IDC_CMD_INIT, IDC_CMD_RELEASE, IDC_CMD_FUNC16, IDC_CMD_FUNC18,
                                             IDC_CMD_FUNC19};

} // namespace

class PanelTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void openingSliders_data();
    void openingSliders();
    void openingRegisterBoxes_data();
    void openingRegisterBoxes();
    void openingFillsPortsAfterDisconnectedSetAndBeforeSliders();
    void portListHiddenFilledOnceWithoutSelection();

    void enableSets_data();
    void enableSets();

    void routing_data();
    void routing();

    void dialogKeysLeaveWindowOpen_data();
    void dialogKeysLeaveWindowOpen();
    void closingEndsWithAccept_data();
    void closingEndsWithAccept();

    void windowMenuOrder();
    void aboutBoxFromWindowMenu();
    void sysCommand_data();
    void sysCommand();

    void minimisedIconOrigin_data();
    void minimisedIconOrigin();
    void dialogUnits_data();
    void dialogUnits();

    void sliderNotifications_data();
    void sliderNotifications();
    void sliderDragNotifications();
    void sliderWheelMovesAsATrackbar();
    void panelIsAnApplicationWindow();

    void controlTexts_data();
    void controlTexts();
    void registerBoxStopsAtItsWidth();
    void errorBoxHasCaptionIconAndOneButton();
    void waitCursorIsRestored();

    void hiddenControls();
    void controlsDoNotOverlap();
    void textsAreNotClipped();

    void trafficPaneRefreshesItselfBatchAfterBatch();
    void trafficRowColours_data();
    void trafficRowColours();
};

void PanelTest::initTestCase()
{
    // The framework texts of the message box are German, as in the program.
    QVERIFY(InstallGermanFrameworkTexts(*QCoreApplication::instance()));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
}

void PanelTest::openingSliders_data()
{
    QTest::addColumn<int>("slider");
    QTest::addColumn<int>("box");
    for (size_t i = 0; i < kSliders.size(); ++i) {
        static const char* names[] = {"brightness", "contrast", "red", "green", "blue"};
        QTest::newRow(names[i]) << kSliders[i] << kValueBoxes[i];
    }
}

void PanelTest::openingSliders()
{
    QFETCH(int, slider);
    QFETCH(int, box);
    CRecordingDlg dlg;
    auto* bar = qobject_cast<QSlider*>(dlg.Control(slider));
    QVERIFY(bar != nullptr);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 255);
    QCOMPARE(bar->value(), 128);
    QCOMPARE(dlg.ControlText(box), std::string("128"));
    QVERIFY(qobject_cast<QLineEdit*>(dlg.Control(box))->isReadOnly());
    // Setting up the sliders is no operator action: nothing is notified.
    QCOMPARE(dlg.Scrolls(), QString());
}

void PanelTest::openingRegisterBoxes_data()
{
    QTest::addColumn<int>("box");
    QTest::newRow("address") << IDC_REG_ADDRESS;
    QTest::newRow("content") << IDC_REG_CONTENT;
}

void PanelTest::openingRegisterBoxes()
{
    QFETCH(int, box);
    CRecordingDlg dlg;
    QCOMPARE(dlg.ControlText(box), std::string("0x0000"));
}

void PanelTest::openingFillsPortsAfterDisconnectedSetAndBeforeSliders()
{
    bool filled = false;
    bool connectEnabled = false;
    bool disconnectEnabled = true;
    int sliderValue = -1;
    QString boxText = QStringLiteral("unset");
    auto fill = [&](IPortList& list) {
        filled = true;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* dlg = qobject_cast<CPelvarDlg*>(top)) {
                connectEnabled = dlg->Control(IDC_CONNECT)->isEnabled();
                disconnectEnabled = dlg->Control(IDC_DISCONNECT)->isEnabled();
                sliderValue = qobject_cast<QSlider*>(dlg->Control(IDC_BRIGHTNESS))->value();
                boxText = qobject_cast<QLineEdit*>(dlg->Control(IDC_BRIGHTNESS_VALUE))->text();
            }
        }
        list.Clear();
    };
    CPelvarDlg dlg(fill);
    QVERIFY(filled);
    QVERIFY(connectEnabled);
    QVERIFY(!disconnectEnabled);
    QVERIFY(sliderValue != 128);
    QCOMPARE(boxText, QString());
}

void PanelTest::portListHiddenFilledOnceWithoutSelection()
{
    int fills = 0;
    CRecordingDlg dlg([&fills](IPortList& list) {
        ++fills;
        list.Clear();
        list.AddString("USB Serial Device (COM3)");
        list.AddString("Communications Port (COM1)");
        list.AddString("USB Serial Device (COM10)");
    });
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(fills, 1);
    QCOMPARE(dlg.PortCount(), 3);
    QCOMPARE(dlg.PortEntry(0), std::string("Communications Port (COM1)"));
    QCOMPARE(dlg.PortEntry(1), std::string("USB Serial Device (COM10)"));
    QCOMPARE(dlg.PortEntry(2), std::string("USB Serial Device (COM3)"));
    QCOMPARE(dlg.PortEntry(3), std::string());
    QCOMPARE(dlg.SelectedPortIndex(), -1);
    QVERIFY(!dlg.Control(IDC_PORT_LIST)->isVisible());
    QVERIFY(dlg.calls.empty()); // filling is no selection by the operator

    // A choice in the list reaches the selection handler.
    auto* list = qobject_cast<QComboBox*>(dlg.Control(IDC_PORT_LIST));
    list->setCurrentIndex(1);
    emit list->activated(1);
    QCOMPARE(dlg.SelectedPortIndex(), 1);
    QCOMPARE(dlg.calls, std::vector<std::string>{"OnPortSelChange"});
}

void PanelTest::enableSets_data()
{
    QTest::addColumn<bool>("connect");
    QTest::addColumn<bool>("others");
    QTest::newRow("disconnected") << true << false;
    QTest::newRow("connected") << false << true;
    QTest::newRow("all off") << false << false;
    QTest::newRow("all on") << true << true;
}

void PanelTest::enableSets()
{
    QFETCH(bool, connect);
    QFETCH(bool, others);
    CRecordingDlg dlg;
    dlg.SetControlStates(!connect, !others); // start from the opposite
    dlg.SetControlStates(connect, others);

    QCOMPARE(dlg.Control(IDC_CONNECT)->isEnabled(), connect);
    // The other set as the operator sees it: Disconnect and every control that drives the board.
    for (const int id :
         {IDC_DISCONNECT, IDC_SCALE, IDC_EDGE, IDC_GAMMA, IDC_TEST_PATTERN, IDC_ARROW_LEFT, IDC_ARROW_RIGHT,
          IDC_ARROW_UP, IDC_ARROW_DOWN, IDC_REG_ADDRESS, IDC_REG_CONTENT, IDC_REG_WRITE, IDC_REG_READ}) {
        QVERIFY2(dlg.Control(id)->isEnabled() == others, qPrintable(QStringLiteral("id %1").arg(id)));
    }
    for (const int id : kIdsWithoutControl)
        QVERIFY(dlg.Control(id) == nullptr);
    // Never part of a set.
    for (const int id : {IDC_BRIGHTNESS, IDC_CONTRAST, IDC_RED, IDC_GREEN, IDC_BLUE, IDC_BRIGHTNESS_VALUE,
                         IDC_BLUE_VALUE, IDC_PORT_LIST, IDC_PORT_TEXT, IDC_SENSOR_TEXT, IDC_ADDRESS_LABEL}) {
        QVERIFY2(dlg.Control(id)->isEnabled(), qPrintable(QStringLiteral("id %1").arg(id)));
    }
}

void PanelTest::routing_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("handler");
    QTest::newRow("Connect") << IDC_CONNECT << "OnConnect";
    QTest::newRow("Disconnect") << IDC_DISCONNECT << "OnDisconnect";
    QTest::newRow("write") << IDC_REG_WRITE << "OnRegisterWrite";
    QTest::newRow("read") << IDC_REG_READ << "OnRegisterRead";
    QTest::newRow("edge") << IDC_EDGE << "OnFunctionButton 9";
    QTest::newRow("scale") << IDC_SCALE << "OnFunctionButton 6";
    QTest::newRow("gamma") << IDC_GAMMA << "OnFunctionButton 10";
    QTest::newRow("Test Pattern") << IDC_TEST_PATTERN << "OnFunctionButton 11";
    QTest::newRow("<") << IDC_ARROW_LEFT << "OnFunctionButton 1021";
    QTest::newRow(">") << IDC_ARROW_RIGHT << "OnFunctionButton 1022";
    QTest::newRow("^") << IDC_ARROW_UP << "OnFunctionButton 1023";
    QTest::newRow("v") << IDC_ARROW_DOWN << "OnFunctionButton 1024";
    QTest::newRow("3 without control") << IDC_CMD_INIT << "OnFunctionButton 3";
    QTest::newRow("4 without control") << IDC_CMD_RELEASE << "OnFunctionButton 4";
    QTest::newRow("5 without control") << IDC_CMD_FUNC16 << "OnFunctionButton 5";
    QTest::newRow("7 without control") << IDC_CMD_FUNC18 << "OnFunctionButton 7";
    QTest::newRow("8 without control") << IDC_CMD_FUNC19 << "OnFunctionButton 8";
    QTest::newRow("Exit (IDOK) does nothing") << IDOK_BUTTON << "";
}

void PanelTest::routing()
{
    QFETCH(int, id);
    QFETCH(QString, handler);
    CRecordingDlg dlg;
    dlg.SetControlStates(true, true);
    if (auto* button = qobject_cast<QAbstractButton*>(dlg.Control(id))) {
        button->click();
    } else {
        QVERIFY(dlg.OnCommand(id));
    }
    const std::vector<std::string> expected =
        handler.isEmpty() ? std::vector<std::string>{} : std::vector<std::string>{handler.toStdString()};
    QCOMPARE(dlg.calls, expected);
    QVERIFY(!dlg.OnCommand(IDC_BRIGHTNESS)); // a slider has no command route
}

void PanelTest::dialogKeysLeaveWindowOpen_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("focus"); // control with the focus, 0 for the window
    for (const auto& [keyName, key] : {std::pair{"Return", Qt::Key_Return}, std::pair{"Enter", Qt::Key_Enter},
                                       std::pair{"Escape", Qt::Key_Escape}}) {
        for (const auto& [focusName, focus] :
             {std::pair{"window", 0}, std::pair{"Connect", IDC_CONNECT}, std::pair{"address box", IDC_REG_ADDRESS},
              std::pair{"slider", IDC_BRIGHTNESS}}) {
            QTest::addRow("%s on %s", keyName, focusName) << int(key) << focus;
        }
    }
}

void PanelTest::dialogKeysLeaveWindowOpen()
{
    QFETCH(int, key);
    QFETCH(int, focus);
    CRecordingDlg dlg;
    dlg.SetControlStates(true, true);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QWidget* target = focus == 0 ? static_cast<QWidget*>(&dlg) : dlg.Control(focus);
    target->setFocus();
    QTest::keyClick(target, Qt::Key(key));
    QCoreApplication::processEvents();
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected)); // not ended
    QVERIFY(dlg.calls.empty());                     // and no button clicked
    QCOMPARE(dlg.Scrolls(), QString());
}

void PanelTest::closingEndsWithAccept_data()
{
    QTest::addColumn<int>("way");
    QTest::newRow("close box") << 0;
    QTest::newRow("window command SC_CLOSE") << 1;
    QTest::newRow("close item of the window menu") << 2;
}

void PanelTest::closingEndsWithAccept()
{
    QFETCH(int, way);
    CRecordingDlg dlg;
    // Chooses the close item once the window menu is up.
    test::CModalWatcher menuWatcher(ActiveMenu, [](QWidget* menu) {
        auto* m = static_cast<QMenu*>(menu);
        m->setActiveAction(m->actions().at(1));
        QTest::keyClick(m, Qt::Key_Return);
    });
    QTimer::singleShot(0, &dlg, [&dlg, way] {
        if (way == 0) {
            dlg.close();
        } else if (way == 1) {
            dlg.OnSysCommand(SC_CLOSE, 0);
        } else {
            QContextMenuEvent event(QContextMenuEvent::Mouse, BackgroundPoint(dlg),
                                    dlg.mapToGlobal(BackgroundPoint(dlg)));
            QApplication::sendEvent(&dlg, &event);
        }
    });
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, &dlg, [&dlg] { dlg.done(99); });
    guard.start(3000);
    QCOMPARE(dlg.exec(), int(QDialog::Accepted));
    QCOMPARE(menuWatcher.Fired(), way == 2);
    QVERIFY(!dlg.isVisible());
    QVERIFY(dlg.calls.empty()); // closing does not disconnect
}

void PanelTest::windowMenuOrder()
{
    CRecordingDlg dlg;
    const std::unique_ptr<QMenu> menu = dlg.CreateSystemMenu();
    const QList<QAction*> actions = menu->actions();
    // The bench's items follow the window's own (checked in BenchPanelTest).
    QVERIFY(actions.size() > 7);
    QVERIFY(actions[7]->isSeparator());
    QCOMPARE(actions[0]->text(), QString::fromUtf8(kMinimizeMenuText));
    QCOMPARE(actions[1]->text(), QString::fromUtf8("&Schließen\tAlt+F4"));
    QVERIFY(actions[2]->isSeparator());
    QCOMPARE(actions[3]->text(), QStringLiteral("&Informationen zu Pelvar..."));
    QVERIFY(actions[4]->isSeparator());
    // The reconnection switch: on by default, the menu command turns it off.
    QCOMPARE(actions[5]->text(), QStringLiteral("Reconnect automatically"));
    QVERIFY(actions[5]->isCheckable());
    const bool before = actions[5]->isChecked();
    dlg.OnSysCommand(IDM_AUTO_RECONNECT, 0);
    QCOMPARE(dlg.Worker().AutoReconnect(), !before);
    dlg.OnSysCommand(IDM_AUTO_RECONNECT, 0);
    QCOMPARE(dlg.Worker().AutoReconnect(), before);
    // RS-485 mode: off by default (BenchPanelTest follows it to the open).
    QCOMPARE(actions[6]->text(), QStringLiteral("RS-485 mode"));
    QVERIFY(actions[6]->isCheckable());
    QVERIFY(!actions[6]->isChecked());
}

void PanelTest::aboutBoxFromWindowMenu()
{
    CRecordingDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QString seen;
    test::CModalWatcher aboutWatcher(ActiveAboutBox, CloseAbout(&seen));
    test::CModalWatcher menuWatcher(ActiveMenu, [](QWidget* menu) {
        auto* m = static_cast<QMenu*>(menu);
        m->setActiveAction(m->actions().at(3)); // the about item
        QTest::keyClick(m, Qt::Key_Return);
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, BackgroundPoint(dlg), dlg.mapToGlobal(BackgroundPoint(dlg)));
    QApplication::sendEvent(&dlg, &event);
    QVERIFY(menuWatcher.Fired());
    QVERIFY(aboutWatcher.Fired());
    QCOMPARE(seen, QStringLiteral("Informationen zu Pelvar|Pelvar, Version 1.0|Copyright (C) 2026"));
    QVERIFY(dlg.isVisible()); // back to the unchanged panel
    QVERIFY(dlg.calls.empty());

    // Over a button the window menu is not offered.
    test::CModalWatcher strayMenu(ActiveMenu, [](QWidget* menu) { menu->close(); });
    const QPoint onButton = dlg.Control(IDC_CONNECT)->geometry().center();
    QContextMenuEvent overButton(QContextMenuEvent::Mouse, onButton, dlg.mapToGlobal(onButton));
    QApplication::sendEvent(&dlg, &overButton);
    QVERIFY(!strayMenu.Fired());
}

void PanelTest::sysCommand_data()
{
    QTest::addColumn<uint>("nID");
    QTest::addColumn<bool>("about");
    QTest::newRow("0x0010 IDM_ABOUTBOX") << 0x0010u << true;
    QTest::newRow("0x0017 low bits ignored") << 0x0017u << true;
    QTest::newRow("0x001F") << 0x001Fu << true;
    QTest::newRow("0x0000") << 0x0000u << false;
    QTest::newRow("0x0020") << 0x0020u << false;
    QTest::newRow("0xF020 SC_MINIMIZE") << 0xF020u << false;
    QTest::newRow("0x0110") << 0x0110u << false;
}

void PanelTest::sysCommand()
{
    QFETCH(uint, nID);
    QFETCH(bool, about);
    CRecordingDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QString seen;
    test::CModalWatcher watcher(ActiveAboutBox, CloseAbout(&seen));
    dlg.OnSysCommand(nID, 0);
    if (!about) {
        QTest::qWait(50); // room for a box that should not come
    }
    QCOMPARE(watcher.Fired(), about);
    QCOMPARE(seen.startsWith(QStringLiteral("Informationen zu Pelvar")), about);
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
}

void PanelTest::minimisedIconOrigin_data()
{
    QTest::addColumn<int>("client");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("origin");
    QTest::newRow("36 centres at 2") << 36 << 32 << 2;
    QTest::newRow("33 rounds up to 1") << 33 << 32 << 1;
    QTest::newRow("30: -1/2 truncates to 0") << 30 << 32 << 0;
    QTest::newRow("29: -2/2 is -1") << 29 << 32 << -1;
    QTest::newRow("27: -4/2 is -2") << 27 << 32 << -2;
}

void PanelTest::minimisedIconOrigin()
{
    QFETCH(int, client);
    QFETCH(int, icon);
    QFETCH(int, origin);
    QCOMPARE(MinimisedIconOrigin(client, icon), origin);
}

void PanelTest::dialogUnits_data()
{
    QTest::addColumn<double>("cx");
    QTest::addColumn<double>("cy");
    QTest::addColumn<QRect>("dialogUnits");
    QTest::addColumn<QRect>("pixels");
    // Corners are converted and rounded to nearest: 7*241/4 = 421.75 -> 422.
    QTest::newRow("Connect at 7x16") << 7.0 << 16.0 << QRect(241, 17, 50, 14) << QRect(422, 34, 87, 28);
    QTest::newRow("whole panel at 6x13") << 6.0 << 13.0 << QRect(0, 0, 321, 356) << QRect(0, 0, 482, 579);
    QTest::newRow("arrow ^ at 6x13") << 6.0 << 13.0 << QRect(152, 256, 18, 18) << QRect(228, 416, 27, 29);
    // An unrounded average width: 241 * 7.4 / 4 = 445.85 -> 446, 291 * 7.4 / 4 = 538.35 -> 538.
    QTest::newRow("Connect at 7.4x14") << 7.4 << 14.0 << QRect(241, 17, 50, 14) << QRect(446, 30, 92, 24);
}

void PanelTest::dialogUnits()
{
    QFETCH(double, cx);
    QFETCH(double, cy);
    QFETCH(QRect, dialogUnits);
    QFETCH(QRect, pixels);
    const DialogRect rect{dialogUnits.x(), dialogUnits.y(), dialogUnits.width(), dialogUnits.height()};
    QCOMPARE(DialogToPixels(rect, {cx, cy}), pixels);
}

void PanelTest::sliderNotifications_data()
{
    QTest::addColumn<int>("slider");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("expected"); // id:code:position ...
    QTest::newRow("Right: line down, end") << IDC_BRIGHTNESS << 128 << int(Qt::Key_Right) << "1005:1:129 1005:8:129";
    QTest::newRow("Left: line up, end") << IDC_CONTRAST << 128 << int(Qt::Key_Left) << "1008:0:127 1008:8:127";
    // As a horizontal trackbar: Up and Page Up toward the minimum, Down and
    // Page Down toward the maximum.
    QTest::newRow("Up: line up, end") << IDC_CONTRAST << 128 << int(Qt::Key_Up) << "1008:0:127 1008:8:127";
    QTest::newRow("Down: line down, end") << IDC_CONTRAST << 128 << int(Qt::Key_Down) << "1008:1:129 1008:8:129";
    QTest::newRow("PageUp: page of 51 up") << IDC_RED << 128 << int(Qt::Key_PageUp) << "1011:2:77 1011:8:77";
    QTest::newRow("PageDown: page of 51 down") << IDC_GREEN << 128 << int(Qt::Key_PageDown) << "1014:3:179 1014:8:179";
    QTest::newRow("Home: top") << IDC_BLUE << 128 << int(Qt::Key_Home) << "1017:6:0 1017:8:0";
    QTest::newRow("End: bottom") << IDC_BLUE << 128 << int(Qt::Key_End) << "1017:7:255 1017:8:255";
    QTest::newRow("Left at 0 still notifies") << IDC_BRIGHTNESS << 0 << int(Qt::Key_Left) << "1005:0:0 1005:8:0";
}

void PanelTest::sliderNotifications()
{
    QFETCH(int, slider);
    QFETCH(int, start);
    QFETCH(int, key);
    QFETCH(QString, expected);
    CRecordingDlg dlg;
    auto* bar = qobject_cast<QSlider*>(dlg.Control(slider));
    bar->setValue(start);
    QTest::keyClick(bar, Qt::Key(key));
    QCOMPARE(dlg.Scrolls(), expected);
}

void PanelTest::sliderWheelMovesAsATrackbar()
{
    CRecordingDlg dlg;
    auto* bar = qobject_cast<QSlider*>(dlg.Control(IDC_BLUE));
    const QPointF at(bar->width() / 2.0, bar->height() / 2.0);
    for (int notch : {120, -120}) { // away from the user, then toward
        dlg.scrolls.clear();
        bar->setValue(128);
        QWheelEvent wheel(at, bar->mapToGlobal(at), QPoint(), QPoint(0, notch), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(bar, &wheel);
        QVERIFY2(notch > 0 ? bar->value() < 128 : bar->value() > 128, qPrintable(QString::number(bar->value())));
        QCOMPARE(dlg.Scrolls(), QStringLiteral("1017:5:%1").arg(bar->value()));
    }
}

void PanelTest::panelIsAnApplicationWindow()
{
    CRecordingDlg dlg;
    QCOMPARE(dlg.windowType(), Qt::Window);
    const Qt::WindowFlags flags = dlg.windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.windowHandle()->transientParent(), nullptr);
}

void PanelTest::sliderDragNotifications()
{
    CRecordingDlg dlg;
    auto* bar = qobject_cast<QSlider*>(dlg.Control(IDC_GREEN));
    bar->setSliderDown(true);
    bar->setSliderPosition(140);
    bar->setSliderPosition(200);
    bar->setSliderDown(false);
    QCOMPARE(dlg.Scrolls(), QStringLiteral("1014:5:140 1014:5:200 1014:4:200 1014:8:200"));
    QCOMPARE(bar->value(), 200);

    // A click on the groove pages toward the click; the release ends it.
    dlg.scrolls.clear();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const QPoint nearRightEnd(bar->width() - 3, bar->height() / 2);
    QTest::mousePress(bar, Qt::LeftButton, {}, nearRightEnd);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, nearRightEnd);
    QCOMPARE(dlg.Scrolls(), QStringLiteral("1014:3:251 1014:8:251"));
}

void PanelTest::controlTexts_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("readBack");
    QTest::newRow("port number static") << IDC_PORT_TEXT << "7"
                                        << "7";
    QTest::newRow("sensor static") << IDC_SENSOR_TEXT << "ARVEN-L"
                                   << "ARVEN-L";
    QTest::newRow("address box") << IDC_REG_ADDRESS << "0x10"
                                 << "0x10";
    QTest::newRow("value box") << IDC_BLUE_VALUE << "200"
                               << "200";
    QTest::newRow("non-ASCII survives") << IDC_SENSOR_TEXT << "Größe"
                                        << "Größe";
    QTest::newRow("id without control") << IDC_CMD_INIT << "x"
                                        << "";
    QTest::newRow("unknown id") << 4711 << "x"
                                << "";
}

void PanelTest::controlTexts()
{
    QFETCH(int, id);
    QFETCH(QString, text);
    QFETCH(QString, readBack);
    CRecordingDlg dlg;
    dlg.SetControlText(id, text.toStdString());
    QCOMPARE(QString::fromStdString(dlg.ControlText(id)), readBack);
}

void PanelTest::registerBoxStopsAtItsWidth()
{
    CRecordingDlg dlg;
    dlg.SetControlStates(false, true);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto* box = qobject_cast<QLineEdit*>(dlg.Control(IDC_REG_ADDRESS));
    box->clear();
    box->setFocus();
    const QString typed = QStringLiteral("1234567890ABCDEF1234567890ABCDEF");
    QTest::keyClicks(box, typed);
    QVERIFY(!box->text().isEmpty());
    QVERIFY(box->text().size() < typed.size());
    QVERIFY(typed.startsWith(box->text()));
    QVERIFY(box->fontMetrics().horizontalAdvance(box->text()) < box->width());
}

void PanelTest::errorBoxHasCaptionIconAndOneButton()
{
    CRecordingDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    test::CMessageBoxCloser closer;
    dlg.ShowError("No reply from camera.", "Error");
    QVERIFY(closer.Fired());
    QCOMPARE(closer.seen.caption, QStringLiteral("Error"));
    QCOMPARE(closer.seen.text, QStringLiteral("No reply from camera."));
    QCOMPARE(closer.seen.icon, QMessageBox::Critical);
    QCOMPARE(closer.seen.buttons, QStringList{QCoreApplication::translate("QPlatformTheme", "OK")});
}

void PanelTest::waitCursorIsRestored()
{
    CRecordingDlg dlg;
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    dlg.BeginWaitCursor();
    QVERIFY(QApplication::overrideCursor() != nullptr);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    dlg.EndWaitCursor();
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void PanelTest::hiddenControls()
{
    CRecordingDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    for (QWidget* child : dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        // The traffic pane and the register view open from the window menu only.
        const bool hidden = child == dlg.Control(IDOK_BUTTON) || child == dlg.Control(IDC_PORT_LIST)
                            || child->objectName() == QStringLiteral("trafficPane")
                            || child->objectName() == QStringLiteral("registerPane")
                            || child->objectName() == QStringLiteral("plotPane");
        QVERIFY2(child->isVisible() != hidden, qPrintable(child->objectName()));
    }
    QVERIFY(qobject_cast<QPushButton*>(dlg.Control(IDOK_BUTTON)) != nullptr);
    QCOMPARE(dlg.ControlText(IDOK_BUTTON), std::string("Exit"));
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Zandrel / Pelvar Demo"));
    QVERIFY(!dlg.windowIcon().isNull());
    QCOMPARE(dlg.OnQueryDragIcon().cacheKey(), dlg.windowIcon().cacheKey());
}

void PanelTest::controlsDoNotOverlap()
{
    CRecordingDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    // The layout's arrow pad: "^" and "v" overlap ">" by one dialog unit at a corner.
    const std::set<std::pair<int, int>> templateCorners = {{IDC_ARROW_UP, IDC_ARROW_RIGHT},
                                                           {IDC_ARROW_DOWN, IDC_ARROW_RIGHT}};
    const DialogBaseUnits units = BaseUnitsOf(dlg.font());
    std::vector<QWidget*> controls;
    for (QWidget* child : dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisible() && qobject_cast<QGroupBox*>(child) == nullptr) {
            controls.push_back(child);
            QVERIFY2(dlg.rect().contains(child->geometry()), qPrintable(child->objectName()));
        }
    }
    QVERIFY(controls.size() > 30);
    for (size_t i = 0; i < controls.size(); ++i) {
        for (size_t j = i + 1; j < controls.size(); ++j) {
            const QRect overlap = controls[i]->geometry() & controls[j]->geometry();
            if (overlap.isEmpty()) {
                continue;
            }
            const int a = controls[i]->objectName().mid(7).toInt();
            const int b = controls[j]->objectName().mid(7).toInt();
            const bool known = templateCorners.count({std::min(a, b), std::max(a, b)}) > 0
                               || templateCorners.count({std::max(a, b), std::min(a, b)}) > 0;
            QVERIFY2(known, qPrintable(controls[i]->objectName() + " overlaps " + controls[j]->objectName()));
            QVERIFY(overlap.width() <= units.cx / 4 + 1 && overlap.height() <= units.cy / 8 + 1);
        }
    }
}

void PanelTest::textsAreNotClipped()
{
    for (int which = 0; which < 2; ++which) {
        CRecordingDlg panel;
        panel.SetControlText(IDC_PORT_TEXT, "255"); // the widest port number
        panel.SetControlText(IDC_SENSOR_TEXT, "init error");
        CAboutDlg about;
        QWidget& window = which == 0 ? static_cast<QWidget&>(panel) : static_cast<QWidget&>(about);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!child->isVisible()) {
                continue;
            }
            const QFontMetrics metrics = child->fontMetrics();
            QString text;
            int room = 0;
            if (auto* label = qobject_cast<QLabel*>(child); label && label->pixmap().isNull()) {
                text = label->text();
                room = label->width();
                QVERIFY2(metrics.height() <= label->height(), qPrintable(text));
            } else if (auto* button = qobject_cast<QPushButton*>(child)) {
                text = button->text();
                room = button->width() - 4; // the frame takes two pixels a side
                QVERIFY2(metrics.height() <= button->height(), qPrintable(text));
            } else if (auto* group = qobject_cast<QGroupBox*>(child)) {
                text = group->title();
                room = group->width() - 16;
            } else {
                continue;
            }
            QVERIFY2(metrics.horizontalAdvance(text) <= room, qPrintable(QStringLiteral("\"%1\" needs %2 px, has %3")
                                                                             .arg(text)
                                                                             .arg(metrics.horizontalAdvance(text))
                                                                             .arg(room)));
        }
    }
}

// The pane's own timer brings each batch in, without anyone calling Flush.
void PanelTest::trafficPaneRefreshesItselfBatchAfterBatch()
{
    QWidget window;
    CTrafficPane pane(&window);
    for (std::uint32_t batch = 1; batch <= 3; ++batch) {
        ExchangeRecord r;
        r.atMs = batch;
        pane.Model().Post(r);
        pane.Model().Post(r);
        QTRY_COMPARE_WITH_TIMEOUT(pane.Model().rowCount(), static_cast<int>(2 * batch), 5000);
    }
}

void PanelTest::trafficRowColours_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("attempts");
    QTest::addColumn<QVariant>("background");
    const QVariant amber = QBrush(QColor(255, 236, 179));
    const QVariant red = QBrush(QColor(255, 205, 210));
    QTest::newRow("first attempt") << 0 << 1 << QVariant();
    QTest::newRow("retried") << 0 << 3 << amber;
    QTest::newRow("failed") << -2002 << 1 << red;
    QTest::newRow("failed after retries") << -2009 << 6 << red;
}

void PanelTest::trafficRowColours()
{
    QFETCH(int, result);
    QFETCH(int, attempts);
    QFETCH(QVariant, background);
    CTrafficModel model;
    ExchangeRecord r;
    r.result = result;
    r.attempts = static_cast<std::uint32_t>(attempts);
    model.Post(r);
    model.Flush();
    QCOMPARE(model.index(0, CTrafficModel::Result).data(Qt::BackgroundRole), background);
    QCOMPARE(model.index(0, CTrafficModel::Result).data(Qt::ForegroundRole).isValid(), background.isValid());
}

QTEST_MAIN(PanelTest)
#include "PanelTest.moc"
