// The register view in the Qt panel: the tree drawn from a map, and a
// field's value picked by name in the tree reaching the board through the
// worker. What the rows hold is the shared model's, tested below the windows.
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <fstream>

#include "camera/ControlIds.h"
#include "camera/RegisterView.h"
#include "sim/SimBoard.h"
#include "ui/PelvarDlg.h"
#include "ui/PlotPane.h"
#include "ui/RegisterPane.h"

using namespace pelvar;

namespace {

void OnePort(IPortList& list) { list.AddString("Simulated board (COM5)"); }

constexpr const char* kMap = R"({"registers": [
  {"name": "CTRL", "address": "0x0012", "fields": [
    {"name": "MODE", "lsb": 4, "width": 2, "values": {"off": 0, "continuous": 2, "single": 3}},
    {"name": "EN", "lsb": 0, "width": 1}]},
  {"name": "IRQ", "address": "0x0020", "access": "rc"}
]})";

QPushButton* Button(CPelvarDlg& dlg, const char* text)
{
    for (QPushButton* b : dlg.RegisterPane().findChildren<QPushButton*>())
        if (b->text() == QString::fromUtf8(text))
            return b;
    return nullptr;
}

// The panel connected to the simulated board on COM5, CTRL at 0x0021, the
// register view shown with kMap loaded.
struct ConnectedPanel {
    ConnectedPanel() { sim.AddPort(5, &board); }
    // False, with the reason in `why`, when a step fails.
    bool Open()
    {
        std::ofstream(dir.filePath(QStringLiteral("registers.json")).toStdString()) << kMap;
        dlg.show();
        dlg.ShowRegisterView(true);
        QTest::mouseClick(dlg.Control(IDC_CONNECT), Qt::LeftButton);
        if (!dlg.WaitForCamera() || !dlg.Camera().IsConnected()) {
            why = "the panel did not connect";
            return false;
        }
        if (dlg.Camera().Board().WriteRegister(0x12, 0x0021) != LINK_OK) {
            why = "CTRL was not written";
            return false;
        }
        return dlg.RegisterPane().LoadMap(dir.filePath(QStringLiteral("registers.json")).toStdString(), &why);
    }

    QTemporaryDir dir;
    SimPlatform sim;
    SimBoardDevice board;
    CPelvarDlg dlg{OnePort, nullptr, sim};
    std::string why;
};

} // namespace

class RegisterPaneTest : public QObject {
    Q_OBJECT

private slots:
    void withoutAMapThePaneSaysHowToLoadOne();
    void treeFromTheMapAndAFieldPickedByNameReachesTheBoard();
    void plotSamplesTheBoardBreaksAtAGapAndSaves();
};

void RegisterPaneTest::withoutAMapThePaneSaysHowToLoadOne()
{
    SimPlatform sim;
    CPelvarDlg dlg(OnePort, nullptr, sim);
    dlg.show();
    QVERIFY(!dlg.RegisterViewShown());
    dlg.OnSysCommand(IDM_REGISTER_VIEW, 0);
    QVERIFY(dlg.RegisterViewShown());
    auto* label = dlg.RegisterPane().findChild<QLabel*>(QStringLiteral("registerNoMap"));
    QVERIFY(label && label->isVisible());
    QVERIFY2(label->text().contains(QStringLiteral("\"Load map...\"")), qPrintable(label->text()));
    QVERIFY(!dlg.RegisterPane().TreeView()->isVisible());
    QVERIFY(!Button(dlg, kRefreshButtonText)->isEnabled());
}

void RegisterPaneTest::treeFromTheMapAndAFieldPickedByNameReachesTheBoard()
{
    ConnectedPanel panel;
    QVERIFY2(panel.Open(), panel.why.c_str());
    CPelvarDlg& dlg = panel.dlg;
    SimPlatform& sim = panel.sim;

    QTreeView* tree = dlg.RegisterPane().TreeView();
    QVERIFY(tree->isVisible());
    QAbstractItemModel* model = tree->model();
    QCOMPARE(model->rowCount(), 2);
    const QModelIndex ctrl = model->index(0, kRegViewName);
    QCOMPARE(ctrl.data().toString(), QStringLiteral("CTRL"));
    QCOMPARE(model->rowCount(ctrl), 2);
    QCOMPARE(model->index(0, kRegViewName, ctrl).data().toString(), QStringLiteral("MODE"));
    QCOMPARE(model->index(1, kRegViewAccess).data().toString(), QStringLiteral("rc"));

    QTest::mouseClick(Button(dlg, kRefreshButtonText), Qt::LeftButton);
    QVERIFY(dlg.WaitForCamera());
    QCOMPARE(model->index(0, kRegViewRaw).data().toString(), QStringLiteral("0x0021"));
    QCOMPARE(model->index(0, kRegViewDecoded, ctrl).data().toString(), QStringLiteral("continuous(2)"));

    QTest::mouseClick(Button(dlg, kSnapshotButtonText), Qt::LeftButton);
    QVERIFY(dlg.WaitForCamera());

    // MODE picked from its names in place, as the operator does.
    sim.ClearWrites(5);
    const QModelIndex mode = model->index(0, kRegViewDecoded, ctrl);
    tree->setCurrentIndex(mode);
    tree->edit(mode);
    auto* names = tree->findChild<QComboBox*>(QStringLiteral("registerNames"));
    QVERIFY(names);
    QCOMPARE(names->count(), 3);
    QCOMPARE(names->currentText(), QStringLiteral("continuous"));
    names->setCurrentText(QStringLiteral("single"));
    QTest::keyClick(names, Qt::Key_Return);
    // The row shows the value read back once the worker has been and gone.
    QTRY_COMPARE(model->index(0, kRegViewDecoded, ctrl).data().toString(), QStringLiteral("single(3)"));
    QVERIFY(dlg.WaitForCamera());
    bool wrote = false;
    for (const SimWrite& w : sim.Writes(5))
        wrote = wrote || w.bytes == std::vector<std::uint8_t>{0x02, 0x04, 0xA4, 0x31, 0x00, 0x93, 0x03};
    QVERIFY(wrote);
    QCOMPARE(panel.board.Board().Register(0x12), std::uint16_t(0x0031));

    // Compared with the snapshot: CTRL and MODE stand out, EN and IRQ do not.
    QTest::mouseClick(Button(dlg, kCompareButtonText), Qt::LeftButton);
    QVERIFY(dlg.WaitForCamera());
    QTRY_VERIFY(ctrl.data(Qt::BackgroundRole).isValid());
    QVERIFY(model->index(0, kRegViewName, ctrl).data(Qt::BackgroundRole).isValid());
    QVERIFY(!model->index(1, kRegViewName, ctrl).data(Qt::BackgroundRole).isValid());
    QVERIFY(!model->index(1, kRegViewName).data(Qt::BackgroundRole).isValid());
}

// The plot opened from the menu, fed by the worker from the simulated board.
void RegisterPaneTest::plotSamplesTheBoardBreaksAtAGapAndSaves()
{
    ConnectedPanel panel;
    QVERIFY2(panel.Open(), panel.why.c_str());
    CPelvarDlg& dlg = panel.dlg;
    SimPlatform& sim = panel.sim;
    const QTemporaryDir& dir = panel.dir;
    std::string error;
    dlg.OnSysCommand(IDM_PLOT, 0);
    QVERIFY(dlg.PlotShown());
    QVERIFY(!dlg.RegisterViewShown());

    CPlotPane& pane = dlg.PlotPane();
    QCOMPARE(pane.Names()->itemText(1), QStringLiteral("CTRL.MODE"));
    pane.Names()->setCurrentIndex(1);
    for (QPushButton* b : pane.findChildren<QPushButton*>())
        if (b->text() == QString::fromUtf8(kPlotAddButtonText) || b->text() == QString::fromUtf8(kPlotAddResponseText))
            QTest::mouseClick(b, Qt::LeftButton);
    const RegisterPlotModel& plot = pane.Plot();
    QCOMPARE(plot.Series().size(), std::size_t(2));
    QCOMPARE(plot.Series()[0].Name(), std::string("CTRL.MODE"));
    QTRY_VERIFY(plot.Series()[0].Size() >= 2);
    QCOMPARE(plot.Series()[0].At(0).value, 2.0);

    // Reads fail for a while: the line breaks there and goes on after.
    sim.FailRead(5, true);
    const auto gapSeen = [&] {
        const PlotSeries& s = plot.Series()[0];
        return s.Size() > 0 && s.At(s.Size() - 1).gap;
    };
    QTRY_VERIFY(gapSeen());
    sim.FailRead(5, false);
    QTRY_VERIFY(plot.Series()[0].Segments().size() >= 2);

    const std::string png = dir.filePath(QStringLiteral("plot.png")).toStdString();
    QVERIFY2(pane.SavePng(png, &error), error.c_str());
    QImage picture(QString::fromStdString(png));
    QVERIFY(!picture.isNull());
    QCOMPARE(picture.size(), pane.findChild<QWidget*>(QStringLiteral("plotCanvas"))->size());
    const std::string nowhere = dir.filePath(QStringLiteral("gone/plot.png")).toStdString();
    QVERIFY(!pane.SavePng(nowhere, &error));
    QCOMPARE(error, nowhere + ": cannot write: No such file or directory");
    const std::string csv = dir.filePath(QStringLiteral("plot.csv")).toStdString();
    QVERIFY2(plot.SaveCsv(csv, &error), error.c_str());
    std::ifstream in(csv);
    std::string header, first;
    std::getline(in, header);
    std::getline(in, first);
    QCOMPARE(header, std::string("ms,CTRL.MODE,response ms"));
    QCOMPARE(first.substr(0, 4), std::string("0,2,"));
    // The failed reads as empty cells, not the last value again.
    bool gapRow = false;
    for (std::string row; std::getline(in, row);)
        gapRow = gapRow || row.substr(row.find(',')) == ",,";
    QVERIFY(gapRow);
}

QTEST_MAIN(RegisterPaneTest)
#include "RegisterPaneTest.moc"
