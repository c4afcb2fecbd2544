#include "windows/uTableEditor.h"

TTableEditor::TTableEditor(QWidget* parent, const QString& objectName, const QString& caption,
                           QSize outerSize, const QString& tableName)
    : TSecondaryWindow(parent, objectName, caption, outerSize) {
    Table1.TableName = tableName;
}
