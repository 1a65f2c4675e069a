#include "QtAlerts.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
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

std::optional<QString> QtAlerts::runSavePanel(const platform::SavePanelRequest& request) {
    QFileDialog panel(QApplication::activeWindow(), request.title);
    panel.setOption(QFileDialog::DontUseNativeDialog); // so that the accessory line can join its layout
    panel.setAcceptMode(QFileDialog::AcceptSave);
    panel.setFileMode(QFileDialog::AnyFile);
    panel.selectFile(request.nameFieldValue);
    if (auto* grid = qobject_cast<QGridLayout*>(panel.layout()); grid && !request.accessoryLabel.isEmpty()) {
        auto* accessory = new QWidget(&panel);
        accessory->setFixedSize(180, 40);
        auto* row = new QHBoxLayout(accessory);
        row->setContentsMargins(0, 0, 0, 0);
        row->addWidget(new QLabel(request.accessoryLabel, accessory));
        auto* items = new QComboBox(accessory);
        items->addItems(request.accessoryItems);
        row->addWidget(items);
        grid->addWidget(accessory, grid->rowCount(), 0, 1, grid->columnCount());
    }
    if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty())
        return std::nullopt;
    return panel.selectedFiles().first();
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
