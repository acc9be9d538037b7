// Acts on the next modal window that a test's action opens: the panel's
// boxes are modal, so the test can only reach them from a timer.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <functional>

namespace pelvar::test {

// Polls every 5 ms for up to 2 s; acts once on the first match.
class CModalWatcher : public QObject {
public:
    CModalWatcher(std::function<QWidget*()> match, std::function<void(QWidget*)> act)
        : m_match(std::move(match)), m_act(std::move(act))
    {
        connect(&m_timer, &QTimer::timeout, this, &CModalWatcher::Poll);
        m_timer.start(5);
        m_deadline.start();
    }
    bool Fired() const { return m_bFired; }

private:
    void Poll()
    {
        if (QWidget* widget = m_match()) {
            m_timer.stop();
            m_bFired = true;
            m_act(widget);
            return;
        }
        if (m_deadline.elapsed() > 2000)
            m_timer.stop();
    }

    std::function<QWidget*()> m_match;
    std::function<void(QWidget*)> m_act;
    QTimer m_timer;
    QElapsedTimer m_deadline;
    bool m_bFired = false;
};

inline QWidget* ActiveMessageBox() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }

// What a message box showed before it was closed with its first button.
struct MessageBoxSeen {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
};

// Watches for the next message box, records it into *seen and closes it.
class CMessageBoxCloser : public CModalWatcher {
public:
    CMessageBoxCloser()
        : CModalWatcher(ActiveMessageBox, [this](QWidget* widget) {
              auto* box = static_cast<QMessageBox*>(widget);
              seen.caption = box->windowTitle();
              seen.text = box->text();
              seen.icon = box->icon();
              for (QAbstractButton* button : box->buttons())
                  seen.buttons << button->text();
              box->buttons().first()->click();
          })
    {}
    MessageBoxSeen seen;
};

} // namespace pelvar::test
