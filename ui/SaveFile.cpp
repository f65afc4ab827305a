#include "ui/SaveFile.h"

#include "ui/Dialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>

namespace md::ui {

FileChooser& SaveFileChooser() {
    static FileChooser chooser = [](QWidget* parent, const QString& caption,
                                    const QString& filter) {
        return QFileDialog::getSaveFileName(parent, caption, QString(), filter);
    };
    return chooser;
}

void ReportUnwritable(const QString& path, const QString& reason) {
    AfxMessageBox(QCoreApplication::translate("SaveFile", "无法写入文件 %1：%2")
                      .arg(QDir::toNativeSeparators(path), reason));
}

} // namespace md::ui
