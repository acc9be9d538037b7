#include "ui/RegisterPane.h"

#include <QBrush>
#include <QColor>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace pelvar {

namespace {

// Register rows carry 0 as their internal id, a field row its register's index + 1.
constexpr quintptr kRegisterRow = 0;

QString Text(const std::string& s) { return QString::fromStdString(s); }

} // namespace

CRegisterTreeModel::CRegisterTreeModel(RegisterViewModel& view, QObject* parent)
    : QAbstractItemModel(parent), m_view(view)
{}

std::size_t CRegisterTreeModel::RegisterOf(const QModelIndex& index)
{
    return index.internalId() == kRegisterRow ? static_cast<std::size_t>(index.row())
                                              : static_cast<std::size_t>(index.internalId() - 1);
}

int CRegisterTreeModel::FieldOf(const QModelIndex& index)
{
    return index.internalId() == kRegisterRow ? -1 : index.row();
}

QModelIndex CRegisterTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= kRegViewColumnCount || row >= rowCount(parent))
        return {};
    if (!parent.isValid())
        return createIndex(row, column, kRegisterRow);
    return createIndex(row, column, static_cast<quintptr>(parent.row()) + 1);
}

QModelIndex CRegisterTreeModel::parent(const QModelIndex& child) const
{
    if (!child.isValid() || child.internalId() == kRegisterRow)
        return {};
    return createIndex(static_cast<int>(child.internalId() - 1), 0, kRegisterRow);
}

int CRegisterTreeModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return static_cast<int>(m_view.RegisterCount());
    if (parent.internalId() != kRegisterRow || parent.column() != 0)
        return 0;
    return static_cast<int>(m_view.FieldCount(static_cast<std::size_t>(parent.row())));
}

int CRegisterTreeModel::columnCount(const QModelIndex&) const { return kRegViewColumnCount; }

QVariant CRegisterTreeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const std::size_t reg = RegisterOf(index);
    const int field = FieldOf(index);
    switch (role) {
    case Qt::DisplayRole: return Text(m_view.CellText(reg, field, index.column()));
    case Qt::EditRole: return Text(m_view.EditText(reg, field, index.column()));
    case Qt::ToolTipRole: return Text(m_view.TipText(reg, field));
    case Qt::BackgroundRole:
        if (m_view.Marked(reg, field))
            return QBrush(QColor(kChangedRowColour.red, kChangedRowColour.green, kChangedRowColour.blue));
        return {};
    case Qt::ForegroundRole:
        // Readable on the marked rows whatever the style's text colour.
        return m_view.Marked(reg, field) ? QVariant(QBrush(Qt::black)) : QVariant();
    default: return {};
    }
}

QVariant CRegisterTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return QString::fromUtf8(RegisterViewColumnTitle(section));
}

Qt::ItemFlags CRegisterTreeModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (m_view.EditorFor(RegisterOf(index), FieldOf(index), index.column()) != RegisterEditor::None)
        f |= Qt::ItemIsEditable;
    return f;
}

bool CRegisterTreeModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole)
        return false;
    std::string why;
    if (!m_view.Edit(RegisterOf(index), FieldOf(index), value.toString().trimmed().toStdString(), &why)) {
        emit EditRefused(Text(why));
        return false;
    }
    return true;
}

void CRegisterTreeModel::ValuesChanged()
{
    const int regs = rowCount();
    if (regs == 0)
        return;
    const int last = kRegViewColumnCount - 1;
    emit dataChanged(index(0, 0), index(regs - 1, last));
    for (int r = 0; r < regs; ++r) {
        const QModelIndex parent = index(r, 0);
        const int fields = rowCount(parent);
        if (fields > 0)
            emit dataChanged(index(0, 0, parent), index(fields - 1, last, parent));
    }
}

void CRegisterTreeModel::MapChanged()
{
    beginResetModel();
    endResetModel();
}

QWidget* CRegisterDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const
{
    auto* tree = static_cast<const CRegisterTreeModel*>(index.model());
    RegisterViewModel& view = const_cast<CRegisterTreeModel*>(tree)->View();
    const std::size_t reg = CRegisterTreeModel::RegisterOf(index);
    const int field = CRegisterTreeModel::FieldOf(index);
    switch (view.EditorFor(reg, field, index.column())) {
    case RegisterEditor::Names: {
        auto* box = new QComboBox(parent);
        box->setObjectName(QStringLiteral("registerNames"));
        for (const std::string& name : view.ValueNames(reg, field))
            box->addItem(Text(name));
        return box;
    }
    case RegisterEditor::Hex: {
        auto* edit = static_cast<QLineEdit*>(QStyledItemDelegate::createEditor(parent, option, index));
        edit->setObjectName(QStringLiteral("registerHex"));
        return edit;
    }
    case RegisterEditor::None: break;
    }
    return nullptr;
}

void CRegisterDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    if (auto* box = qobject_cast<QComboBox*>(editor)) {
        box->setCurrentIndex(box->findText(index.data(Qt::EditRole).toString()));
        return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
}

void CRegisterDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    if (auto* box = qobject_cast<QComboBox*>(editor)) {
        if (box->currentIndex() >= 0)
            model->setData(index, box->currentText(), Qt::EditRole);
        return;
    }
    QStyledItemDelegate::setModelData(editor, model, index);
}

CRegisterPane::CRegisterPane(QWidget* parent, RegisterBoardRunner run, std::function<void(const std::string&)> status)
    : QWidget(parent), m_status(std::move(status)),
      m_view(std::move(run), [this](const std::string& line) { Changed(line); })
{
    setObjectName(QStringLiteral("registerPane"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* buttons = new QHBoxLayout;
    const auto addButton = [&](const char* text, std::function<void()> onClick, bool needsMap) {
        auto* b = new QPushButton(QString::fromUtf8(text), this);
        buttons->addWidget(b);
        connect(b, &QPushButton::clicked, this, [onClick = std::move(onClick)] { onClick(); });
        if (needsMap)
            m_boardButtons.push_back(b);
    };
    addButton(
        kLoadMapButtonText, [this] { AskLoadMap(); }, false);
    addButton(
        kRefreshButtonText, [this] { m_view.Refresh(); }, true);
    addButton(
        kSnapshotButtonText, [this] { m_view.TakeSnapshot(); }, true);
    addButton(
        kCompareButtonText, [this] { m_view.Compare(); }, true);
    addButton(
        kCompareResetButtonText, [this] { m_view.CompareWithReset(); }, true);
    buttons->addStretch();
    layout->addLayout(buttons);
    m_noMap = new QLabel(this);
    m_noMap->setObjectName(QStringLiteral("registerNoMap"));
    m_noMap->setWordWrap(true);
    m_noMap->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(m_noMap);
    m_tree = new CRegisterTreeModel(m_view, this);
    m_treeView = new QTreeView(this);
    m_treeView->setObjectName(QStringLiteral("registerTree"));
    m_treeView->setModel(m_tree);
    m_treeView->setItemDelegate(new CRegisterDelegate(m_treeView));
    m_treeView->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked
                                | QAbstractItemView::EditKeyPressed);
    m_treeView->setUniformRowHeights(true);
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    for (int c = 0; c < kRegViewColumnCount - 1; ++c)
        m_treeView->setColumnWidth(c, RegisterViewColumnDigits(c) * digit + 8);
    layout->addWidget(m_treeView, 1);
    connect(m_tree, &CRegisterTreeModel::EditRefused, this, [this](const QString& why) {
        if (m_status)
            m_status(why.toStdString());
    });
    const std::string path = DefaultRegisterMapPath();
    std::string error;
    if (!path.empty() && QFileInfo::exists(Text(path)) && !LoadMap(path, &error) && m_status)
        m_status(error);
    ShowMapState();
}

bool CRegisterPane::LoadMap(const std::string& path, std::string* error)
{
    if (!m_view.LoadMap(path, error))
        return false;
    m_tree->MapChanged();
    m_treeView->expandAll();
    ShowMapState();
    return true;
}

void CRegisterPane::ShowMapState()
{
    const bool hasMap = m_view.HasMap();
    m_noMap->setText(Text(m_view.NoMapText()));
    m_noMap->setVisible(!hasMap);
    m_treeView->setVisible(hasMap);
    for (QPushButton* b : m_boardButtons)
        b->setEnabled(hasMap);
}

void CRegisterPane::Changed(const std::string& status)
{
    if (m_tree)
        m_tree->ValuesChanged();
    if (m_status && !status.empty())
        m_status(status);
}

void CRegisterPane::AskLoadMap()
{
    const QString filter = Text(FilterTitle(FilterFor(BenchFile::RegisterMap))) + QStringLiteral(";;All files (*)");
    const QString path = QFileDialog::getOpenFileName(this, QString::fromUtf8(kLoadMapTitle), {}, filter);
    if (path.isEmpty())
        return;
    std::string error;
    if (!LoadMap(path.toStdString(), &error) && m_status)
        m_status(error);
}

} // namespace pelvar
