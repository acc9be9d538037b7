// The same 42 widgets as the control panel (13 buttons, one hidden; 6 group
// boxes; 10 labels; 7 line edits; 5 sliders; one hidden combo box) in a plain
// QDialog: no translations, resources, discovery or dialog-unit layout.
// Closes itself right after its first paint, as pelvar does with
// PELVAR_EXIT_AFTER_SHOW=1.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

namespace {

class CBareDialog : public QDialog {
public:
    CBareDialog()
    {
        resize(594, 623);
        int y = 10;
        for (int i = 0; i < 6; ++i) {
            (new QGroupBox(QStringLiteral("Group %1").arg(i), this))->setGeometry(10, y + i * 60, 570, 55);
        }
        for (int i = 0; i < 13; ++i) {
            auto* button = new QPushButton(QStringLiteral("Button %1").arg(i), this);
            button->setGeometry(20 + (i % 6) * 90, 380 + (i / 6) * 35, 85, 28);
            button->setVisible(i != 0);
        }
        for (int i = 0; i < 10; ++i) {
            (new QLabel(QStringLiteral("Label %1:").arg(i), this))
                ->setGeometry(20 + (i % 2) * 280, 30 + (i / 2) * 60, 60, 14);
        }
        for (int i = 0; i < 7; ++i) {
            auto* edit = new QLineEdit(QStringLiteral("128"), this);
            edit->setGeometry(90 + (i % 2) * 280, 26 + (i / 2) * 60, 70, 24);
        }
        for (int i = 0; i < 5; ++i) {
            auto* slider = new QSlider(Qt::Horizontal, this);
            slider->setRange(0, 255);
            slider->setValue(128);
            slider->setTickPosition(QSlider::TicksAbove);
            slider->setTickInterval(1);
            slider->setGeometry(170, 24 + i * 60, 400, 28);
        }
        auto* combo = new QComboBox(this);
        combo->addItem(QStringLiteral("Communications Port (COM1)"));
        combo->hide();
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QDialog::paintEvent(event);
        if (!m_bPainted) {
            m_bPainted = true;
            QTimer::singleShot(0, this, &QDialog::accept);
        }
    }

private:
    bool m_bPainted = false;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    CBareDialog dialog;
    dialog.exec();
    return 0;
}
