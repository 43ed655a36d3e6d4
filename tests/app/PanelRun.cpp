// The program's own start-up and shutdown path, for the shutdown test: connects to COM<n>, sets Mode A so
// the transponder starts talking, and chooses File > Exit after <ms>. Once the program's run is over it
// prints the threads that were not there when main began and the descriptors still open on the port.
#include "RadioGroup.h"
#include "uavMain.h"
#include "uavRun.h"

#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::set<std::string> Threads() {
    std::set<std::string> ids;
    for (const auto& task : fs::directory_iterator("/proc/self/task"))
        ids.insert(task.path().filename().string());
    return ids;
}

std::string Comm(const std::string& id) {
    std::string name;
    if (FILE* f = std::fopen(("/proc/self/task/" + id + "/comm").c_str(), "r")) {
        char buf[64] = {};
        if (std::fgets(buf, sizeof buf, f))
            name = buf;
        std::fclose(f);
    }
    while (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    const std::string com = argv[1];
    const int closeAfterMs = std::stoi(argv[2]);
    const char* ports = std::getenv("UAVCONTROL_PORTS");
    const fs::path device = fs::canonical(fs::path(ports ? ports : "") / ("com" + com));
    // A runtime may start a helper thread of its own along with the first thread (ThreadSanitizer does):
    // have it running before the count.
    std::thread([] {}).join();
    const std::set<std::string> before = Threads();

    const int code = RunUavControl(argc, argv, [&](TForm1& form) {
        form.edCommPort->setText(QString::fromStdString(com));
        form.BitBtn6->click();
        form.rbStatus->SetItemIndex(1);
        form.statusBtn->click();
        QTimer::singleShot(closeAfterMs, &form, [&form] {
            std::puts("closing");
            std::fflush(stdout);
            form.Exit1->trigger();
        });
    });

    // The toolkit's pooled workers are told to end as its application object goes, and are let go
    // without being waited for: give a thread on its way out a moment to be gone.
    std::vector<std::string> left;
    for (int tries = 0; tries < 100; ++tries) {
        left.clear();
        for (const std::string& id : Threads())
            if (!before.count(id))
                left.push_back(Comm(id));
        if (left.empty())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (const std::string& name : left)
        std::printf("thread %s\n", name.c_str());
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (fs::read_symlink(fd.path(), error) == device)
            std::printf("port open\n");
    }
    std::puts("done");
    return code;
}
