#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

class TestBundle;

// PowerPoint and Keynote as a test wants them. Installs one "<name>.scpt" per compiled script of the
// presentation bridge into a bundle's Resources; each runs FakePresentation.sh, which answers from the
// state folder Resources/fake-state/ that the setters below write (the file list is in that script).
// Every setter replaces its file as a whole, so a script running meanwhile reads the old or the new
// fact, never half of one.
class FakePresentation {
public:
    enum class App { PowerPoint, Keynote };

    // The names of the compiled scripts the bridge runs.
    static const QStringList& scriptNames();

    // Installs the scripts and an empty state: no document open, getPdfPath answering cacheFolder().
    explicit FakePresentation(const TestBundle& bundle);

    QString stateFolder() const { return state_; }
    // What getPdfPath answers at first: a "cache/" folder inside the state folder, ending in "/".
    QString cacheFolder() const { return state_ + QStringLiteral("/cache/"); }
    // Where the export scripts write their files.
    QString exportFolder() const { return state_ + QStringLiteral("/exports"); }

    void openPpt(const QString& documentPath) { open(App::PowerPoint, documentPath); }
    void openKeynote(const QString& documentPath) { open(App::Keynote, documentPath); }
    void open(App app, const QString& documentPath);
    void close(App app);
    void setPlaying(App app, bool playing);
    bool isPlaying(App app) const;
    // The current slide and the slide count; PowerPoint's slide show and editing view both show the
    // current slide.
    void setSlide(App app, int current, int count);
    // PowerPoint's current slide in the slide show and in the editing view, when they differ.
    void setPptViews(int slideShowIndex, int editingNumber);
    // The texts getPptWidth and getPptHeight print.
    void setPptSize(const QString& width, const QString& height);
    // The note of a slide, which the Current and Next note scripts print, and its alternate note.
    void setNote(App app, int slide, const QString& note);
    void setAlternateNote(App app, int slide, const QString& note);
    // What getPdfPath prints; absent: no result.
    void setPdfFolder(const std::optional<QString>& folder);
    // Makes every script, or only the one named, fail with the error number; stopFailing undoes it.
    void failWith(int errorNumber, const std::optional<QString>& script = std::nullopt);
    void stopFailing(const std::optional<QString>& script = std::nullopt);
    // Seconds every script, or only the one named, waits before it answers; 0 removes the delay.
    void setDelay(double seconds, const std::optional<QString>& script = std::nullopt);
    // Seconds the export scripts wait with half their file written (removed again by a SIGTERM meanwhile);
    // 0 removes the wait.
    void setExportHold(double seconds);
    // Bytes the script prints in place of its answer, ending with status 0; absent restores the answer.
    void setRawAnswer(const QString& script, const std::optional<QByteArray>& bytes);
    // Writes the application's source PDF with the given number of pages, which the export scripts
    // copy; 0 removes it, and the export scripts then fail.
    void setPdfPages(App app, int pages);

    // The names of the scripts run so far, in order, from the fake's own log.
    QStringList runs() const;
    qsizetype runCount(const QString& script) const { return runs().count(script); }
    // The process id of the script's last run, 0 when it has not run.
    qint64 lastProcessId(const QString& script) const;
    void clearRuns();

private:
    static QString prefix(App app);
    void write(const QString& name, const QByteArray& content) const;
    void remove(const QString& name) const;

    QString state_;
};
