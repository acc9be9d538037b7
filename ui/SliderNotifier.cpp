#include "ui/SliderNotifier.h"

#include <QEvent>
#include <QKeyEvent>
#include <QSlider>

namespace pelvar {

namespace {

bool ScrollCodeOf(int action, unsigned* code)
{
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: *code = TB_LINEUP; return true;
    case QAbstractSlider::SliderSingleStepAdd: *code = TB_LINEDOWN; return true;
    case QAbstractSlider::SliderPageStepSub: *code = TB_PAGEUP; return true;
    case QAbstractSlider::SliderPageStepAdd: *code = TB_PAGEDOWN; return true;
    case QAbstractSlider::SliderMove: *code = TB_THUMBTRACK; return true;
    case QAbstractSlider::SliderToMinimum: *code = TB_TOP; return true;
    case QAbstractSlider::SliderToMaximum: *code = TB_BOTTOM; return true;
    default: return false;
    }
}

// The keys of a horizontal trackbar: Left and Up are TB_LINEUP, Right and
// Down TB_LINEDOWN, Page Up TB_PAGEUP and Page Down TB_PAGEDOWN.
QAbstractSlider::SliderAction TrackbarKeyAction(int key)
{
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Up: return QAbstractSlider::SliderSingleStepSub;
    case Qt::Key_Right:
    case Qt::Key_Down: return QAbstractSlider::SliderSingleStepAdd;
    case Qt::Key_PageUp: return QAbstractSlider::SliderPageStepSub;
    case Qt::Key_PageDown: return QAbstractSlider::SliderPageStepAdd;
    default: return QAbstractSlider::SliderNoAction;
    }
}

} // namespace

CSliderNotifier::CSliderNotifier(QSlider* slider, Sink sink)
    : QObject(slider), m_pSlider(slider), m_sink(std::move(sink))
{
    // A trackbar moves toward its minimum for the wheel turned away from the
    // user; Qt's slider moves up. The keys are mapped in eventFilter.
    slider->setInvertedControls(true);
    connect(slider, &QAbstractSlider::actionTriggered, this, &CSliderNotifier::OnAction);
    connect(slider, &QAbstractSlider::sliderReleased, this, &CSliderNotifier::OnReleased);
    slider->installEventFilter(this);
}

void CSliderNotifier::OnAction(int action)
{
    unsigned code = 0;
    if (!ScrollCodeOf(action, &code)) {
        return;
    }
    // A drag ends through sliderReleased, a step or page action through the
    // release of the key or button that caused it.
    m_bStepping = code != TB_THUMBTRACK && !m_pSlider->isSliderDown();
    Notify(code);
}

void CSliderNotifier::OnReleased()
{
    m_bStepping = false;
    Notify(TB_THUMBPOSITION);
    Notify(TB_ENDTRACK);
}

bool CSliderNotifier::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_pSlider && event->type() == QEvent::KeyPress) {
        const auto action = TrackbarKeyAction(static_cast<QKeyEvent*>(event)->key());
        if (action != QAbstractSlider::SliderNoAction) {
            m_pSlider->triggerAction(action);
            return true;
        }
    }
    if (watched != m_pSlider || !m_bStepping) {
        return false;
    }
    const bool keyUp = event->type() == QEvent::KeyRelease && !static_cast<QKeyEvent*>(event)->isAutoRepeat();
    const bool buttonUp = event->type() == QEvent::MouseButtonRelease;
    if (keyUp || buttonUp) {
        m_bStepping = false;
        Notify(TB_ENDTRACK);
    }
    return false;
}

void CSliderNotifier::Notify(unsigned scrollCode)
{
    m_sink(scrollCode, static_cast<unsigned>(m_pSlider->sliderPosition()));
}

} // namespace pelvar
