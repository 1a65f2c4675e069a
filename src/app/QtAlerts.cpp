#include "QtAlerts.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

int QtAlerts::runModal(const platform::AlertRequest& request) {
    QMessageBox box;
    switch (request.style) {
    case platform::AlertStyle::Informational:
        box.setIcon(QMessageBox::Information);
        break;
    case platform::AlertStyle::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case platform::AlertStyle::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    }
    box.setTextFormat(Qt::PlainText);
    box.setText(request.messageText);
    box.setInformativeText(request.informativeText);
    QList<QAbstractButton*> buttons;
    for (const QString& title : request.buttons)
        buttons.append(
            box.addButton(title, buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
    if (!buttons.isEmpty())
        box.setDefaultButton(static_cast<QPushButton*>(buttons.first()));
    box.exec();
    const qsizetype index = buttons.indexOf(box.clickedButton());
    return index < 0 ? 0 : int(index);
}

void QtAlerts::beginFolderPanel(std::function<void(std::optional<QString> folder)> completion) {
    QWidget* window = QApplication::activeWindow();
    auto* panel = new QFileDialog(window);
    panel->setFileMode(QFileDialog::Directory);
    panel->setOption(QFileDialog::ShowDirsOnly);
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    panel->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(panel, &QFileDialog::finished, panel,
                     [panel, completion = std::move(completion)](int result) {
                         const QStringList chosen = panel->selectedFiles();
                         completion(result == QDialog::Accepted && !chosen.isEmpty()
                                        ? std::optional<QString>(chosen.first())
                                        : std::nullopt);
                     });
    panel->open();
}
