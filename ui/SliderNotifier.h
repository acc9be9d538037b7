// Turns a QSlider's signals into the horizontal-scroll notifications of a
// trackbar, so the panel's OnHScroll sees the same sequence of codes:
//
// Keys and wheel move as on a horizontal trackbar: Left and Up toward the
// minimum, Right and Down toward the maximum, Page Up toward the minimum and
// Page Down toward the maximum, the wheel turned away from the user toward
// the minimum.
//
//   Qt                                      scroll code          position
//   actionTriggered(SliderSingleStepSub)    TB_LINEUP (0)        new position
//   actionTriggered(SliderSingleStepAdd)    TB_LINEDOWN (1)      new position
//   actionTriggered(SliderPageStepSub)      TB_PAGEUP (2)        new position
//   actionTriggered(SliderPageStepAdd)      TB_PAGEDOWN (3)      new position
//   actionTriggered(SliderMove)             TB_THUMBTRACK (5)    each drag step; a wheel turn
//                                                                (no end of tracking follows it)
//   actionTriggered(SliderToMinimum)        TB_TOP (6)           0
//   actionTriggered(SliderToMaximum)        TB_BOTTOM (7)        255
//   sliderReleased (thumb let go)           TB_THUMBPOSITION (4), then TB_ENDTRACK (8)
//   key or mouse button released after a
//   step or page action                     TB_ENDTRACK (8)
//
// The position passed is the slider's position at that moment (what the
// trackbar's get-position would answer), already moved by the action.
// Programmatic changes (setValue) notify nothing, as with a trackbar. An
// action at the end of the range still notifies.
#pragma once

#include <QObject>

#include <functional>

class QSlider;

namespace pelvar {

enum ScrollCode : unsigned {
    TB_LINEUP = 0,
    TB_LINEDOWN = 1,
    TB_PAGEUP = 2,
    TB_PAGEDOWN = 3,
    TB_THUMBPOSITION = 4,
    TB_THUMBTRACK = 5,
    TB_TOP = 6,
    TB_BOTTOM = 7,
    TB_ENDTRACK = 8,
};

class CSliderNotifier : public QObject {
    Q_OBJECT

public:
    using Sink = std::function<void(unsigned scrollCode, unsigned position)>;

    CSliderNotifier(QSlider* slider, Sink sink);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnAction(int action);
    void OnReleased();
    void Notify(unsigned scrollCode);

    QSlider* m_pSlider;
    Sink m_sink;
    bool m_bStepping = false; // a step or page action awaits its end of tracking
};

} // namespace pelvar
