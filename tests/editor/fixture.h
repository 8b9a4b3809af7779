#pragma once
// Shared helpers of the editor tests: a copy of the sample installation in a
// temporary folder, and an EditorHost that records what the editor tells the
// user, the steps it reports and its saves, and answers its questions from a
// script (No once the script is used up; the Да/Нет/Отмена questions from
// their own script first).
#include "common/text_file.h"
#include "editor/core/form.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <deque>
#include <vector>
#include <gtest/gtest.h>
#include <memory>

namespace kalvet_test {

struct RecordingHost : kalvet::EditorHost {
    QStringList messages, questions;
    std::deque<bool> answers;
    std::deque<Answer> choices;          // for askYesNoCancel
    std::deque<Overwrite> overwrites;    // for askOverwrite; none left: Отмена
    std::vector<kalvet::Edit> edits;     // the steps made, cleared when forgotten
    QStringList savedFiles;
    void message(const QString &text) override { messages << text; }
    bool confirm(const QString &text) override
    {
        questions << text;
        const bool a = !answers.empty() && answers.front();
        if (!answers.empty())
            answers.pop_front();
        return a;
    }
    Answer askYesNoCancel(const QString &text) override
    {
        if (choices.empty())
            return EditorHost::askYesNoCancel(text);
        questions << text;
        const Answer a = choices.front();
        choices.pop_front();
        return a;
    }
    Overwrite askOverwrite(const QString &text) override
    {
        questions << text;
        const Overwrite a = overwrites.empty() ? Overwrite::Cancel : overwrites.front();
        if (!overwrites.empty())
            overwrites.pop_front();
        return a;
    }
    void editMade(const kalvet::Edit &edit) override { edits.push_back(edit); }
    void editsForgotten() override { edits.clear(); }
    void saved(const QStringList &files, const QDateTime &) override { savedFiles = files; }
    void reset() { messages.clear(), questions.clear(), answers.clear(), choices.clear(), overwrites.clear(), edits.clear(); }
    QString all() const { return messages.join(QStringLiteral("\n")); }
};

inline QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class Installation {
public:
    static QString sample() { return QStringLiteral(ZUK_SOURCE_DIR "/examples/installation"); }
    static QByteArray original(const QString &name) { return fileBytes(QDir(sample()).filePath(name)); }
    Installation()
    {
        for (const QString &name : QDir(sample()).entryList(QDir::Files))
            EXPECT_TRUE(QFile::copy(QDir(sample()).filePath(name), path(name))) << name.toStdString();
    }
    QString folder() const { return dir_.path(); }
    QString path(const QString &name) const { return QDir(dir_.path()).filePath(name); }
    QByteArray bytes(const QString &name) const { return fileBytes(path(name)); }
    QString text(const QString &name) const { return zuk::decode1251(bytes(name)); }
    void remove(const QString &name) const { QFile::remove(path(name)); }
    void writeText(const QString &name, const QString &content) const  // as Windows-1251
    {
        QByteArray b;
        ASSERT_TRUE(zuk::encode1251(content, &b));
        remove(name);
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(b), b.size());
    }
    QStringList items(const QString &name) const  // the items of a file, quotes removed
    {
        zuk::ItemReader r = zuk::ItemReader::fromBytes(bytes(name));
        QStringList out;
        for (QString item; r.readText(&item);)
            out << item;
        return out;
    }

private:
    QTemporaryDir dir_;
};

// A form on a copy of the sample installation; restart() makes a new one on
// the same folder after a test changed its files.
struct StartedEditor {
    Installation inst;
    RecordingHost host;
    std::unique_ptr<kalvet::EditorForm> form;
    QString sample;   // offered at start-up when reference files are missing
    explicit StartedEditor(bool start = true) { start ? restart() : void(); }
    void restart()
    {
        host.reset();
        form = std::make_unique<kalvet::EditorForm>(inst.folder(), &host);
        form->setSampleInstallation(sample);
        form->Startup();
    }
};

// The test program's one QApplication (offscreen), made when first needed and
// never destroyed: tearing it down among the other globals can crash at exit.
inline void guiApp()
{
    static int argc = 1;
    static char name[] = "test_editor", *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QApplication(argc, argv);
}

}  // namespace kalvet_test
