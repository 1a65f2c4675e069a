#include "FakePresentation.h"

#include "TestBundle.h"

#include <QDir>
#include <QFile>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <stdexcept>

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("FakePresentation: cannot read " + path.toStdString());
    return file.readAll();
}

} // namespace

const QStringList& FakePresentation::scriptNames() {
    static const QStringList names{
        QStringLiteral("getPdfPath"),
        QStringLiteral("isPptOpenOrNot"),
        QStringLiteral("isKeynoteOpenOrNot"),
        QStringLiteral("isPptPlayingOrNot"),
        QStringLiteral("isKeynotePlayingOrNot"),
        QStringLiteral("playPpt"),
        QStringLiteral("playKeynote"),
        QStringLiteral("getPptCurrentSlideIndex"),
        QStringLiteral("getPptCurrentSlideNumber"),
        QStringLiteral("getKeynoteCurrentSlideNumber"),
        QStringLiteral("getPptTotalSlideCount"),
        QStringLiteral("getKeynoteTotalSlideCount"),
        QStringLiteral("getPptWidth"),
        QStringLiteral("getPptHeight"),
        QStringLiteral("getPptCurrentSlideNote"),
        QStringLiteral("getPptNextSlideNote"),
        QStringLiteral("getPptAlternateSlideNote"),
        QStringLiteral("getPptCurrentPageNote"),
        QStringLiteral("getPptNextPageNote"),
        QStringLiteral("getPptAlternatePageNote"),
        QStringLiteral("getKeynoteCurrentSlideNote"),
        QStringLiteral("getKeynoteNextSlideNote"),
        QStringLiteral("getKeynoteAlternateSlideNote"),
        QStringLiteral("ppt2Pdf"),
        QStringLiteral("keynote2Pdf"),
    };
    return names;
}

FakePresentation::FakePresentation(const TestBundle& bundle)
    : state_(bundle.resourcesPath() + QStringLiteral("/fake-state")) {
    if (!QDir().mkpath(state_))
        throw std::runtime_error("FakePresentation: cannot make " + state_.toStdString());
    bundle.addResource(QStringLiteral("FakePresentation.sh"),
                       readAll(QStringLiteral(PC_FAKE_PRESENTATION_SCRIPT)));
    const QByteArray wrapper = "#!/bin/sh\n. \"$(dirname -- \"$0\")/FakePresentation.sh\"\n";
    for (const QString& name : scriptNames())
        bundle.addResource(name + QStringLiteral(".scpt"), wrapper, true);
    write(QStringLiteral("runs"), {});
    write(QStringLiteral("pids"), {});
    setPdfFolder(cacheFolder());
}

QString FakePresentation::prefix(App app) {
    return app == App::PowerPoint ? QStringLiteral("ppt") : QStringLiteral("keynote");
}

void FakePresentation::write(const QString& name, const QByteArray& content) const {
    const QString path = state_ + u'/' + name;
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        throw std::runtime_error("FakePresentation: cannot write " + path.toStdString());
}

void FakePresentation::remove(const QString& name) const {
    const QString path = state_ + u'/' + name;
    if (QFile::exists(path) && !QFile::remove(path))
        throw std::runtime_error("FakePresentation: cannot remove " + path.toStdString());
}

void FakePresentation::open(App app, const QString& documentPath) {
    write(prefix(app) + QStringLiteral("-document"), documentPath.toUtf8());
}

void FakePresentation::close(App app) {
    remove(prefix(app) + QStringLiteral("-document"));
    setPlaying(app, false);
}

void FakePresentation::setPlaying(App app, bool playing) {
    if (playing)
        write(prefix(app) + QStringLiteral("-playing"), {});
    else
        remove(prefix(app) + QStringLiteral("-playing"));
}

bool FakePresentation::isPlaying(App app) const {
    return QFile::exists(state_ + u'/' + prefix(app) + QStringLiteral("-playing"));
}

void FakePresentation::setSlide(App app, int current, int count) {
    if (app == App::PowerPoint)
        setPptViews(current, current);
    else
        write(QStringLiteral("keynote-slide"), QByteArray::number(current));
    write(prefix(app) + QStringLiteral("-count"), QByteArray::number(count));
}

void FakePresentation::setPptViews(int slideShowIndex, int editingNumber) {
    write(QStringLiteral("ppt-show-slide"), QByteArray::number(slideShowIndex));
    write(QStringLiteral("ppt-edit-slide"), QByteArray::number(editingNumber));
}

void FakePresentation::setPptSize(const QString& width, const QString& height) {
    write(QStringLiteral("ppt-width"), width.toUtf8());
    write(QStringLiteral("ppt-height"), height.toUtf8());
}

void FakePresentation::setNote(App app, int slide, const QString& note) {
    write(prefix(app) + QStringLiteral("-notes/") + QString::number(slide), note.toUtf8());
}

void FakePresentation::setAlternateNote(App app, int slide, const QString& note) {
    write(prefix(app) + QStringLiteral("-alternate/") + QString::number(slide), note.toUtf8());
}

void FakePresentation::setPdfFolder(const std::optional<QString>& folder) {
    if (folder)
        write(QStringLiteral("pdf-folder"), folder->toUtf8());
    else
        remove(QStringLiteral("pdf-folder"));
}

void FakePresentation::failWith(int errorNumber, const std::optional<QString>& script) {
    write(script ? QStringLiteral("fail-") + *script : QStringLiteral("fail"),
          QByteArray::number(errorNumber));
}

void FakePresentation::stopFailing(const std::optional<QString>& script) {
    remove(script ? QStringLiteral("fail-") + *script : QStringLiteral("fail"));
}

void FakePresentation::setDelay(double seconds, const std::optional<QString>& script) {
    const QString name = script ? QStringLiteral("delay-") + *script : QStringLiteral("delay");
    if (seconds > 0)
        write(name, QByteArray::number(seconds));
    else
        remove(name);
}

void FakePresentation::setExportHold(double seconds) {
    if (seconds > 0)
        write(QStringLiteral("export-hold"), QByteArray::number(seconds));
    else
        remove(QStringLiteral("export-hold"));
}

void FakePresentation::setRawAnswer(const QString& script, const std::optional<QByteArray>& bytes) {
    if (bytes)
        write(QStringLiteral("answer-") + script, *bytes);
    else
        remove(QStringLiteral("answer-") + script);
}

void FakePresentation::setPdfPages(App app, int pages) {
    const QString name = prefix(app) + QStringLiteral("-source.pdf");
    if (pages <= 0) {
        remove(name);
        return;
    }
    QSaveFile file(state_ + u'/' + name);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error("FakePresentation: cannot write " + name.toStdString());
    {
        QPdfWriter writer(&file);
        writer.setPageSize(QPageSize(QSizeF(960, 540), QPageSize::Point));
        writer.setPageMargins(QMarginsF());
        writer.setTitle(prefix(app) + QStringLiteral(" deck"));
        QPainter painter(&writer);
        const QRect page = painter.viewport();
        for (int i = 1; i <= pages; ++i) {
            if (i > 1)
                writer.newPage();
            painter.fillRect(page, QColor::fromHsv((i * 40) % 360, 80, 240));
            painter.drawText(page, Qt::AlignCenter, QStringLiteral("Slide %1").arg(i));
        }
    }
    if (!file.commit())
        throw std::runtime_error("FakePresentation: cannot write " + name.toStdString());
}

QStringList FakePresentation::runs() const {
    return QString::fromUtf8(readAll(state_ + QStringLiteral("/runs"))).split(u'\n', Qt::SkipEmptyParts);
}

void FakePresentation::clearRuns() {
    write(QStringLiteral("runs"), {});
    write(QStringLiteral("pids"), {});
}

qint64 FakePresentation::lastProcessId(const QString& script) const {
    QFile pids(state_ + QStringLiteral("/pids"));
    qint64 last = 0;
    if (pids.open(QIODevice::ReadOnly))
        for (const QByteArray& line : pids.readAll().split('\n'))
            if (const QList<QByteArray> fields = line.split(' ');
                fields.size() == 2 && fields[0] == script.toUtf8())
                last = fields[1].toLongLong();
    return last;
}
