// Times the editor on an installation folder: start-up to the first record
// shown, ShowController with its record, ShowRecord of every record (and the
// heaviest one), and the peak memory of the process. Prints the figures.
//   bench_editor FOLDER [RUNS]
#include "editor/core/form.h"
#include "editor/window/editor_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

class CountingHost : public kalvet::EditorHost {
public:
    int messages = 0;
    void message(const QString &text) override
    {
        if (++messages <= 3)
            std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool confirm(const QString &) override { return false; }
};

struct Figures {
    double median = 0, max = 0;
};

// Milliseconds of `runs` runs of step.
Figures measure(int runs, const std::function<void()> &step)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        step();
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

void print(const char *what, const Figures &f, const char *goal)
{
    std::printf("%-48s median %8.3f ms   max %8.3f ms   (goal %s)\n", what, f.median, f.max, goal);
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_editor FOLDER [RUNS]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 20;
    CountingHost host;
    std::printf("kalvet on %s, %d runs each\n", qPrintable(folder), runs);

    // The program's own start-up: the window with its widgets, the files
    // loaded and record 2 of controller 0 on the screen (widgets refreshed).
    print("start-up to first record shown (window)", measure(runs, [&] {
              kalvet::EditorWindow window(folder, &host);
              window.start();
          }),
          "< 150 ms");
    print("start-up to first record shown (logic only)", measure(runs, [&] {
              kalvet::EditorForm form(folder, &host);
              form.Startup();
          }),
          "< 150 ms");

    kalvet::EditorForm form(folder, &host);
    form.Startup();
    int ctrl = 0;
    // A user's choice of a controller: its Click handler runs ShowController.
    print("ShowController with its record", measure(runs * 8, [&] { form.Combo3.choose(ctrl++ % 8); }),
          "< 5 ms");

    // Every record on controller 0; the heaviest by median decides the line.
    form.Combo3.choose(0);
    int heaviest = 0;
    Figures worst;
    std::vector<double> medians;
    for (int rec = 0; rec < form.Combo15.listCount(); ++rec) {
        form.Combo15.setListIndex(rec);
        const Figures f = measure(runs, [&] { form.ShowRecord(); });
        medians.push_back(f.median);
        if (f.median > worst.median)
            worst = f, heaviest = rec;
    }
    std::sort(medians.begin(), medians.end());
    char line[160];
    std::snprintf(line, sizeof line, "ShowRecord, heaviest record %d", heaviest);
    print(line, worst, "< 5 ms");
    if (!medians.empty())
        std::printf("%-48s median %8.3f ms over %zu records\n", "ShowRecord, typical record",
                    medians[medians.size() / 2], medians.size());
    std::printf("  record %d: \"%s\", kind \"%s\"\n", heaviest, qPrintable(form.Combo15.item(heaviest)),
                qPrintable(form.desc_table[heaviest][kalvet::RecordLine::kKind]));

    // A user's choice in an item combo of the heaviest record.
    form.Combo15.setListIndex(heaviest);
    form.ShowRecord();
    print("Combo2 choice (stores, redraws the items)", measure(runs, [&] {
              if (form.Combo2.listCount() > 0)
                  form.Combo2.choose(form.Combo2.listIndex() < 0 ? 0 : form.Combo2.listIndex());
              else
                  form.ShowRecordItems();
          }),
          "< 5 ms");

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%-48s %8.1f MB   (goal < 80 MB)\n", "peak memory (ru_maxrss)", usage.ru_maxrss / 1024.0);
    if (host.messages)
        std::printf("messages shown: %d\n", host.messages);
    return 0;
}
