#include "platform/linux/access/PkexecAccessSettings.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

namespace tarnell::platform {

namespace {

// The room a line edit keeps beside its text within its frame and text margins: two
// pixels on either side, and a little for the cursor.
constexpr int kLineEditSideMargins = 6;

} // namespace

PkexecAccessSettings::PkexecAccessSettings(InputAccessConfig config,
                                           std::filesystem::path uninstalledHelper)
    : trust_(std::move(config)), uninstalledHelper_(std::move(uninstalledHelper)) {}

std::filesystem::path PkexecAccessSettings::builtAccessHelperPath() {
    return TARNELL_BUILT_ACCESS_HELPER_PATH;
}

void PkexecAccessSettings::openAccessSettings(QWidget* parent) {
    if (trust_.canPrompt()) {
        // The prompt also does nothing while an earlier one is still open.
        trust_.isProcessTrustedWithPrompt();
        return;
    }
    showCommand(parent);
}

void PkexecAccessSettings::showCommand(QWidget* parent) const {
    const QString command =
        std::filesystem::exists(uninstalledHelper_)
            ? QStringLiteral("sudo %1").arg(QString::fromStdString(uninstalledHelper_.string()))
            : QStringLiteral("sudo cmake --install <build directory>");
    auto* dialog = new QDialog(parent);
    dialog->setObjectName(QStringLiteral("accessCommandDialog"));
    dialog->setWindowTitle(QObject::tr("Input Access"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);

    auto* icon = new QLabel(dialog);
    icon->setPixmap(dialog->style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32));
    icon->setAlignment(Qt::AlignTop);
    auto* explanation =
        new QLabel(QObject::tr("Tarnell needs to read the keyboards and to type keys. To allow it "
                               "for the logged-in user, run this command in a terminal:"),
                   dialog);
    explanation->setWordWrap(true);

    // One line in a fixed-width font, wide enough for the whole command where the
    // screen allows, and selected: it is read and copied whole, never broken at a
    // hyphen of the path.
    auto* field = new QLineEdit(command, dialog);
    field->setObjectName(QStringLiteral("command"));
    field->setReadOnly(true);
    field->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const QMargins margins = field->textMargins();
    const int frame = 2 * dialog->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) +
                      kLineEditSideMargins + margins.left() + margins.right();
    int width = field->fontMetrics().horizontalAdvance(command) + frame;
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
        width = std::min(width, screen->availableGeometry().width() * 4 / 5);
    }
    field->setMinimumWidth(width);
    field->selectAll();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);

    auto* texts = new QVBoxLayout();
    texts->addWidget(explanation);
    texts->addWidget(field);
    auto* row = new QHBoxLayout();
    row->addWidget(icon);
    row->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(dialog);
    layout->addLayout(row);
    layout->addWidget(buttons);
    dialog->open();
}

} // namespace tarnell::platform
