// The register view drawn with Qt: the shared RegisterViewModel's tree in a
// tree view, its buttons above, a field with named values edited from a
// list of its names and other rows as hexadecimal. Every board call goes
// through the camera worker; the rows change when it brings them back.
#pragma once

#include <QAbstractItemModel>
#include <QStyledItemDelegate>
#include <QWidget>

#include <functional>
#include <string>

#include "camera/RegisterView.h"

class QLabel;
class QPushButton;
class QTreeView;

namespace pelvar {

class CRegisterTreeModel : public QAbstractItemModel {
    Q_OBJECT

public:
    CRegisterTreeModel(RegisterViewModel& view, QObject* parent);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Hands the edit to the view's model; the row shows the value once the board has it.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // The register and field (-1: the register) of a row.
    static std::size_t RegisterOf(const QModelIndex& index);
    static int FieldOf(const QModelIndex& index);
    RegisterViewModel& View() { return m_view; }

    // After new values or marks (same rows), and after a new map (new rows).
    void ValuesChanged();
    void MapChanged();

signals:
    void EditRefused(const QString& why);

private:
    RegisterViewModel& m_view;
};

// A combo box of the names for a field with named values, else a line edit.
class CRegisterDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
};

class CRegisterPane : public QWidget {
    Q_OBJECT

public:
    // `run` carries the board calls to the worker; `status` shows a line in the panel's status.
    CRegisterPane(QWidget* parent, RegisterBoardRunner run, std::function<void(const std::string&)> status);

    RegisterViewModel& View() { return m_view; }
    CRegisterTreeModel& Tree() { return *m_tree; }
    QTreeView* TreeView() const { return m_treeView; }
    bool LoadMap(const std::string& path, std::string* error);

private:
    void Changed(const std::string& status);
    void AskLoadMap();
    void ShowMapState();

    std::function<void(const std::string&)> m_status;
    RegisterViewModel m_view;
    CRegisterTreeModel* m_tree = nullptr;
    QTreeView* m_treeView = nullptr;
    QLabel* m_noMap = nullptr;
    std::vector<QPushButton*> m_boardButtons;
};

} // namespace pelvar
