#pragma once
// Shared helpers of the editor tests: a copy of the sample installation in a
// temporary folder and an EditorHost that records what the editor tells the
// user and answers its questions from a script.

#include "common/text_file.h"
#include "editor/form.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <deque>
#include <gtest/gtest.h>
#include <memory>

namespace kalvet_test {

// Records every message box; confirm() takes its answers from `answers`
// in order and says No once they are used up.
class RecordingHost : public kalvet::EditorHost {
public:
    QStringList messages;
    QStringList questions;
    std::deque<bool> answers;

    void message(const QString &text) override { messages << text; }
    bool confirm(const QString &text) override
    {
        questions << text;
        if (answers.empty())
            return false;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void reset()
    {
        messages.clear();
        questions.clear();
        answers.clear();
    }
    // All messages in one text, for "contains" checks.
    QString all() const { return messages.join(QStringLiteral("\n")); }
};

inline QString sampleInstallation()
{
    return QStringLiteral(ZUK_SOURCE_DIR "/examples/installation");
}

// A fresh copy of the sample installation; every test changes only its copy.
class Installation {
public:
    Installation()
    {
        EXPECT_TRUE(dir_.isValid());
        const QDir src(sampleInstallation());
        for (const QString &name : src.entryList(QDir::Files)) {
            EXPECT_TRUE(QFile::copy(src.filePath(name), path(name))) << name.toStdString();
            QFile::setPermissions(path(name), QFile::ReadOwner | QFile::WriteOwner);
        }
    }
    QString folder() const { return dir_.path(); }
    QString path(const QString &name) const { return QDir(dir_.path()).filePath(name); }

    QByteArray bytes(const QString &name) const
    {
        QFile f(path(name));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return f.readAll();
    }
    static QByteArray original(const QString &name)
    {
        QFile f(QDir(sampleInstallation()).filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return f.readAll();
    }
    // File as text (Windows-1251 decoded).
    QString text(const QString &name) const { return zuk::decode1251(bytes(name)); }

    void write(const QString &name, const QByteArray &content) const
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    // Writes text as Windows-1251.
    void writeText(const QString &name, const QString &content) const
    {
        QByteArray b;
        ASSERT_TRUE(zuk::encode1251(content, &b));
        write(name, b);
    }
    void remove(const QString &name) const { QFile::remove(path(name)); }

    // The items of a file, quotes removed.
    QStringList items(const QString &name) const
    {
        zuk::ItemReader r = zuk::ItemReader::fromBytes(bytes(name));
        QStringList out;
        QString item;
        while (r.readText(&item))
            out << item;
        return out;
    }

private:
    QTemporaryDir dir_;
};

// A form on a copy of the sample installation, started up.
struct StartedEditor {
    Installation inst;
    RecordingHost host;
    std::unique_ptr<kalvet::EditorForm> form;

    explicit StartedEditor(bool start = true)
    {
        form = std::make_unique<kalvet::EditorForm>(inst.folder(), &host);
        if (start)
            form->Startup();
    }
    // A new form on the same folder (after the test changed its files).
    void restart()
    {
        host.reset();
        form = std::make_unique<kalvet::EditorForm>(inst.folder(), &host);
        form->Startup();
    }
};

// The one QApplication of the test program, created by the first test that
// needs widgets (offscreen platform, set by the test environment).
inline QApplication *guiApp()
{
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "test_editor";
        static char *argv[] = {name, nullptr};
        // Never destroyed: tearing it down among the other globals at exit
        // can crash after widgets were used.
        new QApplication(argc, argv);
    }
    return qobject_cast<QApplication *>(QCoreApplication::instance());
}

}  // namespace kalvet_test
