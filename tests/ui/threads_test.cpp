// Workers and the window thread together: a window thread of its own runs the
// loop while workers write controls, ask questions and open windows.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "ui/engine.h"
#include "ui/headless.h"

namespace qorvel::ui {
namespace {

using namespace std::chrono_literals;

TEST(EngineThreads, WorkersWriteControlsWhileTheWindowThreadReads) {
    HeadlessBackend backend{
        [](const std::string& e) { ADD_FAILURE() << "the program reported: " << e; }};
    ScriptedPrompts prompts;
    Program program(backend, prompts);
    auto w = std::make_shared<Window>("main", "m", 100, 100);
    Control& list = w->add("超级列表框2", Kind::list_view);
    Control& label = w->add("标签1", Kind::label);
    Control& log = w->add("日志编辑框", Kind::edit);
    list.add_column("c", 10);
    // An observer as the Qt layer has one: it runs on the writing thread.
    std::atomic<int> notified{0};
    list.observe([&](Control&, unsigned) { notified.fetch_add(1); });

    HeadlessRunner runner(backend, program);
    runner.call([&] { program.open(w, false); });

    std::atomic<bool> reader_done{false}, reader_stopped{false};
    std::atomic<int> reads{0};
    // The window thread keeps reading rows and cells while the workers write; each tick
    // posts the next or says that the reading has stopped, so that the test never ends
    // (and frees read_tick) under a tick still on its way.
    std::function<void()> read_tick = [&] {
        int n = list.row_count();
        for (int i = 0; i < n; ++i) (void)list.cell(i, 1);
        (void)label.caption();
        if (reads.fetch_add(1) < 2000 && !reader_done)
            program.post(read_tick);
        else
            reader_stopped = true;
    };
    program.post(read_tick);

    constexpr int kWorkers = 4, kRows = 200;
    for (int t = 0; t < kWorkers; ++t)
        program.start_worker([&, t] {
            for (int i = 0; i < kRows; ++i) {
                int row = list.insert_row(-1, "w" + std::to_string(t));
                list.set_cell(row, 1, std::to_string(i));
                label.set_caption(std::to_string(i));
                log.append_text("x");
                if (i % 50 == 0) list.delete_row(0);
            }
        });
    ASSERT_TRUE(runner.wait_until([&] { return program.running_workers() == 0; }, 10s));
    reader_done = true;
    ASSERT_TRUE(runner.wait_until([&] { return reader_stopped.load(); }, 10s));
    EXPECT_EQ(list.row_count(), kWorkers * (kRows - kRows / 50));
    EXPECT_EQ(log.text().size(), size_t(kWorkers * kRows)) << "appends were lost";
    EXPECT_GE(notified.load(), kWorkers * kRows);
    EXPECT_GT(reads.load(), 0);
}

TEST(EngineThreads, WorkerAsksTheWindowThreadAndOpensAModalWindow) {
    HeadlessBackend backend{
        [](const std::string& e) { ADD_FAILURE() << "the program reported: " << e; }};
    ScriptedPrompts prompts;
    Program program(backend, prompts);
    auto main = std::make_shared<Window>("main", "m", 100, 100);
    main->add("时钟3", Kind::timer).set_interval(1000);
    std::atomic<int> ticks{0};
    main->on("时钟3", Event::tick, [&](EventArgs&) { ticks.fetch_add(1); });
    auto login = std::make_shared<Window>("login", "l", 100, 100);

    std::thread::id asked_on;
    prompts.set_responder([&](const std::string&, MessageButtons) {
        asked_on = std::this_thread::get_id();
        return kAnswerYes;
    });

    HeadlessRunner runner(backend, program);
    runner.call([&] { program.open(main, false); });
    std::thread::id ui = backend.ui_thread();

    std::atomic<int> answer{-1};
    std::atomic<bool> worker_back{false};
    program.start_worker([&] {
        answer = program.message_box("q", MessageButtons::yes_no);
        EXPECT_EQ(program.run_on_ui_and_wait([&] { return std::this_thread::get_id() == ui; }),
                  true);
        program.open(login, true);  // waits until the login window is destroyed
        worker_back = true;
    });
    ASSERT_TRUE(runner.wait_until([&] { return login->alive(); }));
    EXPECT_EQ(answer.load(), kAnswerYes);
    EXPECT_EQ(asked_on, ui) << "message boxes are shown on the window thread";
    EXPECT_TRUE(login->visible());

    // The main window's timer keeps ticking while the modal window is open.
    backend.advance(3000ms);
    ASSERT_TRUE(runner.wait_until([&] { return ticks.load() == 3; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(worker_back.load());

    program.close(*login);  // from the test thread: posted
    ASSERT_TRUE(runner.wait_until([&] { return worker_back.load(); }));
    EXPECT_FALSE(login->alive());
}

TEST(EngineThreads, ShutdownStopsWaitingWorkers) {
    HeadlessBackend backend{
        [](const std::string& e) { ADD_FAILURE() << "the program reported: " << e; }};
    ScriptedPrompts prompts;
    auto program = std::make_unique<Program>(backend, prompts);
    std::atomic<bool> slept_full{true};
    std::atomic<bool> call_ran{false};
    program->start_worker([&] { slept_full = program->sleep_for(30s); });
    // Nobody pumps the window thread: the call never starts and is dropped at shutdown.
    backend.set_ui_thread(std::thread::id());
    program->start_worker([&] { program->run_on_ui_and_wait([&] { call_ran = true; }); });
    std::this_thread::sleep_for(20ms);
    auto start = std::chrono::steady_clock::now();
    program->shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_FALSE(slept_full.load());
    backend.set_ui_thread(std::this_thread::get_id());
    backend.pump_all();
    EXPECT_FALSE(call_ran.load()) << "an abandoned call ran after its caller left";
    program->start_worker([] {});
    EXPECT_EQ(program->running_workers(), 0) << "no workers start once stopping";
}

}  // namespace
}  // namespace qorvel::ui
