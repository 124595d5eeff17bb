#include "platform/toolkit/Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>

namespace velmar {

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

void centre(QWidget* w) {
    w->adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect r = screen->availableGeometry();
        w->move(r.center() - QPoint(w->width() / 2, w->height() / 2));
    }
}

// `text` with a zero-width space after every character of each word that is wider than
// `width`, so that such a word breaks inside where it must instead of being cut off. Words that
// fit stay whole.
QString breakableWords(const QString& text, const QFontMetrics& metrics, int width) {
    constexpr QChar BreakHere(0x200B);
    QString result;
    result.reserve(text.size());
    qsizetype wordStart = 0;
    const auto endWord = [&](qsizetype end) {
        const QString word = text.mid(wordStart, end - wordStart);
        if (metrics.horizontalAdvance(word) <= width) {
            result += word;
            return;
        }
        QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, word);
        qsizetype from = 0;
        for (qsizetype to = characters.toNextBoundary(); to > 0; to = characters.toNextBoundary()) {
            result += word.mid(from, to - from);
            if (to < word.size())
                result += BreakHere;
            from = to;
        }
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isSpace()) {
            endWord(i);
            result += text[i];
            wordStart = i + 1;
        }
    }
    endWord(text.size());
    return result;
}

// A message box whose text is broken at word boundaries to at most half the screen's width, and
// inside a word only where one word alone is wider than that.
void prepare(QMessageBox& box) {
    box.setWindowModality(Qt::ApplicationModal);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
            const int width = screen->availableGeometry().width() / 2;
            label->setWordWrap(true);
            label->setMaximumWidth(width);
            label->setText(breakableWords(label->text(), label->fontMetrics(), width));
        }
    }
}

void okBox(const std::string& text, QMessageBox::Icon icon) {
    QMessageBox box(icon, QString::fromLatin1(ApplicationTitle), q(text), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    prepare(box);
    box.exec();
}

Dialogs* installed = nullptr;

// A folder chooser that starts in `start` with nothing chosen and confirms only a folder the
// user chose: one picked in the list or typed, or one the user went into. Confirming the start
// folder itself untouched does nothing.
class FolderBrowser : public QFileDialog {
public:
    FolderBrowser(const QString& prompt, const QString& start)
        : QFileDialog(nullptr, prompt), start_(start) {
        // Qt's own dialog everywhere, so the rules above hold on every desktop.
        setOption(QFileDialog::DontUseNativeDialog, true);
        setFileMode(QFileDialog::Directory);
        setOption(QFileDialog::ShowDirsOnly, true);
        setLabelText(QFileDialog::LookIn, prompt);
        setDirectory(start);
        connect(this, &QFileDialog::currentChanged, this, [this](const QString& path) {
            if (!path.isEmpty())
                chosen_ = true;
        });
        connect(this, &QFileDialog::directoryEntered, this, [this] { chosen_ = true; });
    }

    void accept() override {
        const QStringList files = selectedFiles();
        if (files.isEmpty())
            return;
        if (!chosen_ && QFileInfo(files.first()) == QFileInfo(start_))
            return;
        QFileDialog::accept();
    }

private:
    QString start_;
    bool chosen_ = false;
};

} // namespace

void QtDialogs::messageBox(const std::string& text) {
    okBox(text, QMessageBox::NoIcon);
}

void QtDialogs::errorBox(const std::string& text) {
    okBox(text, QMessageBox::Critical);
}

bool QtDialogs::confirm(const std::string& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), q(text),
                    QMessageBox::Ok | QMessageBox::Cancel);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    prepare(box);
    return box.exec() == QMessageBox::Ok;
}

std::string QtDialogs::browseFolder(const std::string& prompt) {
    FolderBrowser dialog(q(prompt), FolderBrowserStart());
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return {};
    return QFile::encodeName(files.first()).toStdString(); // the file system's own bytes
}

QString FolderBrowserStart() {
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && QFileInfo(desktop).isDir())
        return desktop;
    return QDir::homePath();
}

bool QtDialogs::inputQuery(const std::string& title, const std::string& prompt,
                           std::string& value) {
    QDialog dialog;
    dialog.setWindowTitle(q(title));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setWindowFlags(dialog.windowFlags() & ~Qt::WindowContextHelpButtonHint);
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(q(prompt), &dialog);
    label->setWordWrap(true);
    auto* edit = new QLineEdit(q(value), &dialog);
    edit->setObjectName(QStringLiteral("edit"));
    edit->setMaxLength(255);
    edit->selectAll();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(label);
    layout->addWidget(edit);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    centre(&dialog);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    value = edit->text().toStdString();
    return true;
}

Dialogs& dialogs() {
    static QtDialogs real;
    return installed ? *installed : real;
}

void setDialogs(Dialogs* d) {
    installed = d;
}

} // namespace velmar
