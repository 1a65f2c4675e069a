#include "QtAlerts.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <memory>

namespace {

// Each button's place in the alert's list, which the box's own order need not keep.
constexpr char kButtonIndex[] = "alertButtonIndex";

// A message box of the alert, with the alert's buttons in order, the first one the default; parent may be
// nothing.
QMessageBox* messageBox(const platform::AlertRequest& request, QWidget* parent) {
    auto* box = new QMessageBox(parent);
    switch (request.style) {
    case platform::AlertStyle::Informational:
        box->setIcon(QMessageBox::Information);
        break;
    case platform::AlertStyle::Critical:
        box->setIcon(QMessageBox::Critical);
        break;
    case platform::AlertStyle::Warning:
        box->setIcon(QMessageBox::Warning);
        break;
    }
    box->setTextFormat(Qt::PlainText);
    box->setText(request.messageText);
    box->setInformativeText(request.informativeText);
    for (qsizetype i = 0; i < request.buttons.size(); ++i) {
        QPushButton* button =
            box->addButton(request.buttons[i], i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
        button->setProperty(kButtonIndex, int(i));
        if (i == 0)
            box->setDefaultButton(button);
    }
    return box;
}

// The index of the alert's button that closed the box (the first when none did).
int response(const QMessageBox& box) {
    const QAbstractButton* clicked = box.clickedButton();
    return clicked ? clicked->property(kButtonIndex).toInt() : 0;
}

} // namespace

int QtAlerts::runModal(const platform::AlertRequest& request) {
    const std::unique_ptr<QMessageBox> box(messageBox(request, nullptr));
    box->exec();
    return response(*box);
}

void QtAlerts::beginSheet(const platform::AlertRequest& request,
                          std::function<void(int response)> completion) {
    QWidget* window = QApplication::activeWindow();
    QMessageBox* box = messageBox(request, window);
    box->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, completion = std::move(completion)] { completion(response(*box)); });
    box->open();
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
