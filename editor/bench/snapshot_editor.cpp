// Saves a picture of the editor window showing one description record:
//   snapshot_editor FOLDER RECORD OUTPUT.png [CONTROLLER]
// The record is chosen as a user would choose it, then the window is drawn
// into the picture.
#include "editor/window/editor_window.h"

#include <QApplication>
#include <QPixmap>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: snapshot_editor FOLDER RECORD OUTPUT.png [CONTROLLER]\n");
        return 2;
    }
    kalvet::EditorWindow window(QString::fromLocal8Bit(argv[1]));
    window.start();
    window.show();
    kalvet::EditorForm &form = window.form();
    if (argc > 4)
        form.Combo3.choose(atoi(argv[4]));
    form.Combo15.choose(atoi(argv[2]));
    window.refresh();
    app.processEvents();
    if (!window.grab().save(QString::fromLocal8Bit(argv[3]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
