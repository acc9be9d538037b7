#include "ui/PelvarDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QStyle>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#include "ui/AboutDlg.h"
#include "ui/FitWidthValidator.h"
#include "camera/ControlTable.h"
#include "camera/PanelTemplate.h"
#include "ui/PelvarIcon.h"
#include "ui/SliderNotifier.h"
#include "ui/PlotPane.h"
#include "ui/RegisterPane.h"
#include "ui/TrafficPane.h"

namespace pelvar {

namespace {

constexpr int kSliderMin = 0;
constexpr int kSliderMax = 255;
// A trackbar pages by a fifth of its range.
constexpr int kSliderPage = (kSliderMax - kSliderMin) / 5;

QString FromUtf8(const char* text) { return QString::fromUtf8(text); }

// The port on which the board answered last time, in the user's settings.
class CSettingsPortMemory : public IPortMemoryStore {
public:
    PortMemory Load() override
    {
        QSettings settings;
        PortMemory memory;
        memory.port = settings.value(QStringLiteral("connection/port"), 0).toInt();
        memory.serial = settings.value(QStringLiteral("connection/serial")).toString().toStdString();
        return memory;
    }
    void Save(const PortMemory& memory) override
    {
        QSettings settings;
        settings.setValue(QStringLiteral("connection/port"), memory.port);
        settings.setValue(QStringLiteral("connection/serial"), QString::fromStdString(memory.serial));
    }
};

} // namespace

CPelvarDlg::CPelvarDlg(PortListFiller fillPorts, QWidget* parent, IPlatform& platform)
    : QDialog(parent), m_fillPorts(std::move(fillPorts)), m_memory(std::make_unique<CSettingsPortMemory>()),
      m_units(BaseUnitsOf(font())), m_hIcon(PelvarIcon())
{
    // The worker's outcome reaches the controls on this thread only. The
    // slot is named rather than a lambda: nothing the worker's thread makes
    // is read here, so no hand-over hides inside the event queue.
    m_worker = std::make_unique<CameraWorker>(*this, platform, ListerFor(m_fillPorts), m_memory.get(), [this] {
        QMetaObject::invokeMethod(this, "DrainWorker", Qt::QueuedConnection);
    });
    m_worker->SetAutoReconnect(QSettings().value(QStringLiteral("connection/autoReconnect"), true).toBool());
    m_bench = std::make_unique<Bench>(*m_worker, *this);
    if (ListsMachinePorts(m_fillPorts))
        m_worker->WatchMachineArrivals();
    setWindowTitle(FromUtf8(kPanelCaption));
    // The application's main window, not a transient dialog: window managers
    // give it a minimise button and a taskbar entry.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    CreateControls();
    CreateStatusLine();
    m_traffic = new CTrafficPane(this);
    m_traffic->hide();
    m_worker->SetExchangeSink([model = &m_traffic->Model()](const ExchangeRecord& r) { model->Post(r); });
    m_registers = new CRegisterPane(
        this,
        [worker = m_worker.get()](RegisterBoardWork work, std::function<void()> done, std::string line) {
            worker->RunOnBoard(std::move(work), std::move(done), std::move(line));
        },
        [this](const std::string& line) { SetStatusText(line); });
    m_registers->hide();
    m_plot = new CPlotPane(
        this, platform,
        [worker = m_worker.get()](RegisterBoardWork work, std::function<void()> done, std::string line) {
            worker->RunOnBoard(std::move(work), std::move(done), std::move(line));
        },
        [this](const std::string& line) { SetStatusText(line); });
    m_plot->hide();
    resize(DialogToPixels(kPanelWithStatusSize, m_units).size());
    OnInitDialog();
}

// Ends the worker first: the running exchange ends within its bound and
// the port is released before the controls go.
CPelvarDlg::~CPelvarDlg() { m_worker.reset(); }

CPelvarDlg::PortListFiller CPelvarDlg::DefaultPortListFiller() { return MachinePortListFiller(); }

// Opening: icons, the disconnected set, the port list, the sliders, the
// register boxes; in this order, before the window is first shown.
void CPelvarDlg::OnInitDialog()
{
    setWindowIcon(m_hIcon);
    SetControlStates(true, false);

    SortedPortList ports;
    if (m_fillPorts) {
        m_fillPorts(ports);
    }
    QComboBox* list = PortList();
    list->clear();
    for (const std::string& entry : ports.Entries()) {
        list->addItem(QString::fromStdString(entry));
    }
    // Filling selects nothing (a combo box would select its first entry).
    list->setCurrentIndex(-1);

    // Nothing is queued yet: the worker does not touch the values now.
    const Adjustments& adjust = m_worker->Camera().m_adjust;
    SetUpSlider(IDC_BRIGHTNESS, IDC_BRIGHTNESS_VALUE, adjust.brightness);
    SetUpSlider(IDC_CONTRAST, IDC_CONTRAST_VALUE, adjust.contrast);
    SetUpSlider(IDC_RED, IDC_RED_VALUE, adjust.red);
    SetUpSlider(IDC_GREEN, IDC_GREEN_VALUE, adjust.green);
    SetUpSlider(IDC_BLUE, IDC_BLUE_VALUE, adjust.blue);

    SetControlText(IDC_REG_ADDRESS, "0x0000");
    SetControlText(IDC_REG_CONTENT, "0x0000");
}

void CPelvarDlg::SetUpSlider(int sliderId, int valueBoxId, std::int32_t value)
{
    auto* slider = static_cast<QSlider*>(Control(sliderId));
    slider->setRange(kSliderMin, kSliderMax);
    slider->setPageStep(kSliderPage);
    slider->setValue(value);
    SetControlText(valueBoxId, std::to_string(slider->value()));
}

void CPelvarDlg::CreateControls()
{
    for (const ControlTemplate& item : kPanelTemplate) {
        QWidget* control = CreateControl(item);
        control->setGeometry(DialogToPixels(item.rect, m_units));
        if (item.flags & kHidden) {
            control->hide();
        }
        control->installEventFilter(this);
        if (item.id != kNoControlId) {
            control->setObjectName(QStringLiteral("control%1").arg(item.id));
            m_controls[item.id] = control;
        }
    }
}

void CPelvarDlg::CreateStatusLine()
{
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLine"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setGeometry(DialogToPixels(kStatusLineRect, m_units));
    m_status->installEventFilter(this);
}

void CPelvarDlg::ShowTrafficPane(bool show)
{
    if (show) {
        m_registers->hide();
        m_plot->hide();
    }
    m_traffic->setGeometry(DialogToPixels(kTrafficArea, m_units));
    m_traffic->setVisible(show);
    resize(DialogToPixels(show ? kPanelWithTraffic : kPanelWithStatusSize, m_units).size());
    if (show)
        m_traffic->scrollToBottom();
}

bool CPelvarDlg::TrafficPaneShown() const { return m_traffic->isVisible(); }

void CPelvarDlg::ShowRegisterView(bool show)
{
    if (show) {
        m_traffic->hide();
        m_plot->hide();
    }
    m_registers->setGeometry(DialogToPixels(kTrafficArea, m_units));
    m_registers->setVisible(show);
    resize(DialogToPixels(show ? kPanelWithTraffic : kPanelWithStatusSize, m_units).size());
}

bool CPelvarDlg::RegisterViewShown() const { return m_registers->isVisible(); }

void CPelvarDlg::ShowPlot(bool show)
{
    if (show) {
        m_traffic->hide();
        m_registers->hide();
        m_plot->SetMap(m_registers->View().SharedMap());
    }
    m_plot->setGeometry(DialogToPixels(kTrafficArea, m_units));
    m_plot->setVisible(show);
    resize(DialogToPixels(show ? kPanelWithTraffic : kPanelWithStatusSize, m_units).size());
}

bool CPelvarDlg::PlotShown() const { return m_plot->isVisible(); }

CTrafficModel& CPelvarDlg::TrafficModel() { return m_traffic->Model(); }

void CPelvarDlg::SetStatusText(const std::string& text) { m_status->setText(QString::fromStdString(text)); }

std::string CPelvarDlg::StatusText() const { return m_status->text().toStdString(); }

// The list is kept as Connect last read it; it selects nothing.
void CPelvarDlg::SetPortEntries(const std::vector<std::string>& entries)
{
    QComboBox* list = PortList();
    list->clear();
    for (const std::string& entry : entries)
        list->addItem(QString::fromStdString(entry));
    list->setCurrentIndex(-1);
}

bool CPelvarDlg::WaitForCamera(int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!m_worker->Idle()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m_worker->DrainUi();
    QApplication::processEvents();
    return true;
}

void CPelvarDlg::StoreAutoReconnect(bool on) { QSettings().setValue(QStringLiteral("connection/autoReconnect"), on); }

QWidget* CPelvarDlg::CreateControl(const ControlTemplate& item)
{
    switch (item.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton: return CreateButton(item);
    case ControlKind::GroupBox: return new QGroupBox(FromUtf8(item.text), this);
    case ControlKind::Label: {
        auto* label = new QLabel(FromUtf8(item.text), this);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setTextFormat(Qt::PlainText);
        return label;
    }
    case ControlKind::Edit: return CreateEdit(item);
    case ControlKind::Slider: return CreateSlider(item);
    case ControlKind::PortList: return CreatePortList();
    }
    return nullptr;
}

QWidget* CPelvarDlg::CreateButton(const ControlTemplate& item)
{
    auto* button = new QPushButton(FromUtf8(item.text), this);
    // Enter never clicks a button here; the default button is only marked.
    button->setAutoDefault(false);
    button->setDefault(item.kind == ControlKind::DefaultPushButton);
    const int id = item.id;
    connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
    return button;
}

QWidget* CPelvarDlg::CreateEdit(const ControlTemplate& item)
{
    auto* edit = new QLineEdit(this);
    if (item.flags & kReadOnlyDigits) {
        edit->setReadOnly(true);
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    }
    if (item.flags & kNoHScroll) {
        edit->setValidator(new CFitWidthValidator(edit));
    }
    // Text changes of the boxes are not routed: nothing reacts to typing.
    return edit;
}

QWidget* CPelvarDlg::CreateSlider(const ControlTemplate& item)
{
    auto* slider = new QSlider(Qt::Horizontal, this);
    slider->setTickPosition(QSlider::TicksAbove);
    slider->setTickInterval(1);
    const int id = item.id;
    new CSliderNotifier(slider, [this, id](unsigned code, unsigned position) { OnHScroll(code, position, id); });
    return slider;
}

QWidget* CPelvarDlg::CreatePortList()
{
    auto* list = new QComboBox(this);
    // Only a choice of the operator notifies, not the filling.
    connect(list, &QComboBox::activated, this, [this] { OnPortSelChange(); });
    return list;
}

QWidget* CPelvarDlg::Control(int id) const
{
    const auto found = m_controls.find(id);
    return found == m_controls.end() ? nullptr : found->second;
}

QComboBox* CPelvarDlg::PortList() const { return static_cast<QComboBox*>(Control(IDC_PORT_LIST)); }

void CPelvarDlg::SetControlText(int id, const std::string& text)
{
    QWidget* control = Control(id);
    const QString value = QString::fromStdString(text);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(value);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(value);
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(value);
    }
}

std::string CPelvarDlg::ControlText(int id)
{
    QWidget* control = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        return edit->text().toStdString();
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
        return label->text().toStdString();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        return button->text().toStdString();
    }
    return {};
}

void CPelvarDlg::SetControlStates(bool connectEnabled, bool othersEnabled)
{
    if (QWidget* connectButton = Control(IDC_CONNECT)) {
        connectButton->setEnabled(connectEnabled);
    }
    for (const int id : kEnableSetOrder) {
        if (QWidget* control = Control(id)) {
            control->setEnabled(othersEnabled);
        }
    }
}

void CPelvarDlg::ShowError(const std::string& text, const std::string& caption)
{
    QMessageBox box(QMessageBox::Critical, QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok, this);
    box.exec();
}

void CPelvarDlg::BeginWaitCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }

void CPelvarDlg::EndWaitCursor() { QApplication::restoreOverrideCursor(); }

int CPelvarDlg::PortCount() { return PortList()->count(); }

std::string CPelvarDlg::PortEntry(int index) { return PortList()->itemText(index).toStdString(); }

int CPelvarDlg::SelectedPortIndex() { return PortList()->currentIndex(); }

bool CPelvarDlg::OnCommand(int id)
{
    if (IsFunctionButton(id)) {
        OnFunctionButton(id);
        return true;
    }
    switch (id) {
    case IDOK_BUTTON: OnOK(); return true;
    case IDC_CONNECT: OnConnect(); return true;
    case IDC_DISCONNECT: OnDisconnect(); return true;
    case IDC_REG_WRITE: OnRegisterWrite(); return true;
    case IDC_REG_READ: OnRegisterRead(); return true;
    default: return false;
    }
}

// Each handler queues the operation for the camera worker and returns.
void CPelvarDlg::OnConnect() { m_worker->Connect(); }
void CPelvarDlg::OnDisconnect() { m_worker->Disconnect(); }
void CPelvarDlg::OnPortSelChange() { m_worker->PortSelChange(); }
void CPelvarDlg::OnRegisterWrite() { m_worker->RegisterWrite(); }
void CPelvarDlg::OnRegisterRead() { m_worker->RegisterRead(); }
void CPelvarDlg::OnFunctionButton(int id) { m_worker->Button(id); }

// The slider is asked for its position now, as the notification's own may
// be stale. During an action the position has moved but value() has not yet.
void CPelvarDlg::OnHScroll(unsigned /*scrollCode*/, unsigned /*position*/, int controlId)
{
    auto* slider = qobject_cast<QSlider*>(Control(controlId));
    if (slider)
        m_worker->Slider(controlId, slider->sliderPosition());
}

// Values 0x0010..0x001F all mean the about item: the low four bits of a
// window command are reserved for the window system.
void CPelvarDlg::OnSysCommand(unsigned nID, std::intptr_t /*lParam*/)
{
    if (m_bench->OnCommand(nID))
        return;
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.exec();
        return;
    }
    DefaultSysCommand(nID);
}

void CPelvarDlg::DefaultSysCommand(unsigned nID)
{
    switch (nID & 0xFFF0) {
    case SC_MINIMIZE: showMinimized(); break;
    case SC_CLOSE: close(); break;
    default: break;
    }
}

std::unique_ptr<QMenu> CPelvarDlg::CreateSystemMenu()
{
    auto menu = std::make_unique<QMenu>(this);
    menu->addAction(FromUtf8(kMinimizeMenuText))->setData(SC_MINIMIZE);
    menu->addAction(FromUtf8(kCloseMenuText))->setData(SC_CLOSE);
    const QString aboutText = FromUtf8(kAboutMenuText);
    if (!aboutText.isEmpty()) {
        menu->addSeparator();
        menu->addAction(aboutText)->setData(static_cast<unsigned>(IDM_ABOUTBOX));
    }
    AddBenchItems(*menu);
    return menu;
}

// The window's own background, group frames and plain texts: where the
// window system's menu would be asked for in a dialog without a caption menu.
bool CPelvarDlg::IsBackground(const QPoint& pos) const
{
    QWidget* child = childAt(pos);
    return child == nullptr || qobject_cast<QGroupBox*>(child) != nullptr || qobject_cast<QLabel*>(child) != nullptr;
}

void CPelvarDlg::contextMenuEvent(QContextMenuEvent* event)
{
    if (!IsBackground(event->pos())) {
        event->ignore();
        return;
    }
    const std::unique_ptr<QMenu> menu = CreateSystemMenu();
    // The command runs after the menu has closed, as a window command would.
    QAction* chosen = menu->exec(event->globalPos());
    if (chosen != nullptr) {
        OnSysCommand(chosen->data().toUInt(), 0);
    }
}

void CPelvarDlg::OnClose()
{
    // The dialog's own OK ending, not the overridden accept() (which does nothing).
    QDialog::accept();
}

void CPelvarDlg::closeEvent(QCloseEvent* event)
{
    OnClose();
    event->accept();
}

bool CPelvarDlg::HandleDialogKey(const QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: OnOK(); return true;
    case Qt::Key_Escape: OnCancel(); return true;
    default: return false;
    }
}

// Enter and Escape go to OnOK and OnCancel wherever the focus is, so no
// button or box turns them into a click or a close.
bool CPelvarDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && HandleDialogKey(static_cast<QKeyEvent*>(event))) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CPelvarDlg::keyPressEvent(QKeyEvent* event)
{
    if (HandleDialogKey(event)) {
        return;
    }
    QDialog::keyPressEvent(event);
}

void CPelvarDlg::paintEvent(QPaintEvent* event)
{
    if (!isMinimized()) {
        QDialog::paintEvent(event);
        return;
    }
    // Where the window system shows minimised windows as their client area.
    const int cx = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
    const int cy = cx;
    const QRect client = rect();
    QPainter painter(this);
    m_hIcon.paint(&painter, MinimisedIconOrigin(client.width(), cx), MinimisedIconOrigin(client.height(), cy), cx, cy);
}

} // namespace pelvar
