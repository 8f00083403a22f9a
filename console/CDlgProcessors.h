// "Processor Library": the library as a tree (each definition with its formats,
// the format of its mode pin in bold) and the commands that add, modify, delete,
// import and export definitions. Every change is written at once, so OK and
// Cancel only close the dialog.
//
// The default processor cannot be modified or deleted. "Delete..." removes the
// very definition selected (a format item stands for its definition), also when
// another definition shares its GUID.
//
// Import and export exchange one definition as a file ("Processor Definition
// (*.ini)"), one section in the library file's format. An imported definition is
// appended; one with the GUID of a definition already in the library replaces
// it after the operator agrees, and a name already taken by another definition
// is refused.
//
// Thread safety: GUI thread only.
#pragma once

#include <QDialog>
#include <QString>

class CXelExecApp;
class CProcessorDef;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class CDlgProcessors : public QDialog {
    Q_OBJECT

public:
    CDlgProcessors(CXelExecApp& app, QWidget* parent);

    // The definition an item stands for (a format item stands for its definition).
    static CProcessorDef* definitionOf(const QTreeWidgetItem* item);
    // The top-level item of a definition, or null.
    QTreeWidgetItem* itemOf(const CProcessorDef& def) const;
    QTreeWidget* tree() const { return tree_; }

    // The commands, as the buttons run them.
    void addProcessor();
    void modifyProcessor();
    void deleteProcessor();
    void importProcessor();
    void exportProcessor();

private:
    void layOut();
    void connectSignals();
    // Empties and refills the tree with drawing switched off; selects `select`.
    void refill(const CProcessorDef* select = nullptr);
    // The definition of the selected item, or null when nothing is selected.
    CProcessorDef* selectedDefinition() const;
    // Shows string 109 when `def` is the default processor; true when it is.
    bool refuseDefault(const CProcessorDef& def);
    void showError(const QString& text);

    CXelExecApp& app_;
    QTreeWidget* tree_;
    QPushButton* add_;
    QPushButton* import_;
    QPushButton* export_;
    QPushButton* modify_;
    QPushButton* delete_;
    QPushButton* ok_;
    QPushButton* cancel_;
};
