// qorvel-cli run as a process against the reference service, each test from
// an empty home folder: what a script sees on standard output, standard
// error and in the exit status.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include <gtest/gtest.h>

#include "support/process.h"
#include "support/service_instance.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qorvel::test::read_file;
using qorvel::test::write_file;

struct CliRun {
    int code = -1;
    std::string out, err;
};

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string bytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen());
    return s;
}

class CliRoad : public ::testing::Test {
  protected:
    void SetUp() override { start_service({}); }

    void start_service(std::vector<std::string> extra, bool throttle = false) {
        qorvel::test::ServiceInstanceOptions o;
        o.host = qorvel::test::process_loopback_address();
        o.ftp_port = 1678;  // the client uploads to 1678
        o.throttle = throttle;
        o.extra_args = std::move(extra);
        service_ = std::make_unique<qorvel::test::ServiceInstance>(o);
        ASSERT_TRUE(service_->start()) << read_file(service_->log_file());
        fs::create_directories(home_.path() / "work");
    }

    std::vector<std::string> environment(const std::vector<std::string>& more) const {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            std::string v = *e;
            if (v.rfind("QORVEL_", 0) == 0 && v.rfind("QORVEL_SERVICE_BIN", 0) != 0) continue;
            if (v.rfind("HOME=", 0) == 0 || v.rfind("XDG_", 0) == 0) continue;
            env.push_back(v);
        }
        auto strip = [](const std::string& url) { return url.substr(7); };
        env.push_back("HOME=" + home_.path().string());
        env.push_back("XDG_CONFIG_HOME=" + (home_.path() / "config").string());
        env.push_back("XDG_DATA_HOME=" + (home_.path() / "data").string());
        env.push_back("QORVEL_WEB=" + strip(service_->web()));
        env.push_back("QORVEL_DIRECT=" + strip(service_->direct()));
        env.push_back("QORVEL_FILES2=" + strip(service_->files2()));
        env.push_back("QORVEL_FILES3=" + strip(service_->files3()));
        env.push_back("QORVEL_FTP_HOST=" + service_->host());
        for (const auto& m : more) {
            std::string name = m.substr(0, m.find('=') + 1);
            std::erase_if(env, [&](const std::string& v) { return v.rfind(name, 0) == 0; });
            env.push_back(m);
        }
        return env;
    }

    // Starts qorvel-cli with stdin from input (never a terminal) and both
    // outputs into files of the test's own.
    pid_t spawn(const std::vector<std::string>& args, const std::string& input,
                const std::vector<std::string>& more_env = {}) {
        write_file(home_.path() / "stdin", input);
        std::vector<std::string> argv = {QORVEL_CLI_BIN};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> a;
        for (auto& s : argv) a.push_back(s.data());
        a.push_back(nullptr);
        std::vector<std::string> env = environment(more_env);
        std::vector<char*> e;
        for (auto& s : env) e.push_back(s.data());
        e.push_back(nullptr);
        std::string in = (home_.path() / "stdin").string();
        std::string out = (home_.path() / "stdout").string();
        std::string err = (home_.path() / "stderr").string();
        std::string cwd = (home_.path() / "work").string();
        pid_t pid = fork();
        if (pid == 0) {
            int i = ::open(in.c_str(), O_RDONLY);
            int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int r = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (i < 0 || o < 0 || r < 0 || ::chdir(cwd.c_str()) != 0) _exit(126);
            dup2(i, 0);
            dup2(o, 1);
            dup2(r, 2);
            execve(a[0], a.data(), e.data());
            _exit(127);
        }
        return pid;
    }

    CliRun finish(pid_t pid, std::chrono::seconds limit = 60s) {
        CliRun r;
        auto until = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > until) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                ADD_FAILURE() << "qorvel-cli did not end in time";
                return r;
            }
            std::this_thread::sleep_for(10ms);
        }
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        r.out = read_file(home_.path() / "stdout");
        r.err = read_file(home_.path() / "stderr");
        return r;
    }

    CliRun cli(const std::vector<std::string>& args, const std::string& input = {},
               const std::vector<std::string>& more_env = {}) {
        return finish(spawn(args, input, more_env));
    }

    void login_guest() {
        CliRun r = cli({"login", "guest", "--password-stdin"}, "guest123\n");
        ASSERT_EQ(r.code, 0) << r.err;
        ASSERT_EQ(r.err, "");
    }

    fs::path work() const { return home_.path() / "work"; }

    qorvel::test::TempDir home_{"qorvel-cli-home"};
    std::unique_ptr<qorvel::test::ServiceInstance> service_;
};

TEST_F(CliRoad, LoginWhoamiListAndTree) {
    // Nobody is logged in yet.
    CliRun r = cli({"ls"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(has(r.err, "尚未登录")) << r.err;

    r = cli({"login", "guest", "--password-stdin"}, "wrong\n");
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(has(r.err, "帐号密码错误")) << r.err;
    // No password, no terminal to ask on: a usage mistake.
    r = cli({"login", "guest"});
    EXPECT_EQ(r.code, 2);

    login_guest();
    fs::path session = home_.path() / "config" / "qorvel" / "cli-session";
    struct stat st {};
    ASSERT_EQ(::lstat(session.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::lstat(session.parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_FALSE(has(read_file(session), "guest123"));

    r = cli({"whoami"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "guest  非会员\n");
    EXPECT_EQ(r.err, "");
    r = cli({"--json", "whoami"});
    EXPECT_TRUE(has(r.out, "\"account\":\"guest\"")) << r.out;
    EXPECT_TRUE(has(r.out, "\"member\":false"));

    r = cli({"ls"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(has(r.out, "资料/")) << r.out;
    EXPECT_TRUE(has(r.out, "样例数据.bin"));
    r = cli({"ls", "/资料", "--json"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(has(r.out, "\"type\":\"file\"")) << r.out;
    EXPECT_TRUE(has(r.out, "\"name\":\"欢迎.txt\""));
    r = cli({"ls", "默认文件夹/资料/欢迎.txt"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(has(r.out, "欢迎.txt"));

    ASSERT_EQ(cli({"mkdir", "/资料/下一层"}).code, 0);
    r = cli({"tree"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(has(r.out, "  资料/  id:")) << r.out;
    EXPECT_TRUE(has(r.out, "    下一层/  id:")) << r.out;
    r = cli({"tree", "--json"});
    EXPECT_TRUE(has(r.out, "\"path\":\"/资料/下一层\"")) << r.out;
    EXPECT_EQ(r.err, "");

    // Unknown paths and paths through a file.
    r = cli({"ls", "/没有这个"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(has(r.err, "路径不存在：/没有这个")) << r.err;
    r = cli({"ls", "/样例数据.bin/x"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(has(r.err, "路径经过一个文件")) << r.err;
    r = cli({"ls", "--page", "9"});
    EXPECT_EQ(r.code, 1);
    r = cli({"ls", "--bogus"});
    EXPECT_EQ(r.code, 2);

    // A login elsewhere ends this session: the next command says so.
    std::vector<std::string> other_home = {"XDG_CONFIG_HOME=" +
                                           (home_.path() / "other-config").string()};
    ASSERT_EQ(cli({"login", "guest", "--password-stdin"}, "guest123\n", other_home).code, 0);
    r = cli({"whoami"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(has(r.err, "登录已失效")) << r.err;
    r = cli({"mkdir", "/新的"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(has(r.err, "登录已失效")) << r.err;

    login_guest();
    ASSERT_EQ(cli({"logout"}).code, 0);
    EXPECT_EQ(cli({"whoami"}).code, 3);

    // A session file a link points to is never read.
    login_guest();
    fs::path moved = home_.path() / "elsewhere";
    fs::rename(session, moved);
    fs::create_symlink(moved, session);
    r = cli({"whoami"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(has(r.err, "不安全")) << r.err;
}

TEST_F(CliRoad, ChangesAndWhatTheServiceRefuses) {
    login_guest();
    ASSERT_EQ(cli({"mkdir", "/工作"}).code, 0);
    ASSERT_EQ(cli({"mkdir", "/工作/甲"}).code, 0);
    ASSERT_EQ(cli({"mkdir", "/工作/乙"}).code, 0);
    CliRun r = cli({"mkdir", "/工作/甲"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(has(r.err, "已存在")) << r.err;
    r = cli({"mkdir", "/工作/a<b"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(has(r.err, "服务器拒绝了这个名称")) << r.err;
    r = cli({"mkdir", "/没有/新"});
    EXPECT_EQ(r.code, 1);

    // Two folders of one name: refused with the ids that tell them apart.
    ASSERT_EQ(cli({"rename", "/工作/乙", "甲"}).code, 0);
    r = cli({"ls", "/工作/甲"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(has(r.err, "有多个同名项")) << r.err;
    auto first_id = r.err.find("id:");
    ASSERT_NE(first_id, std::string::npos);
    std::string id =
        r.err.substr(first_id, r.err.find_first_not_of("0123456789", first_id + 3) - first_id);
    r = cli({"ls", "/工作/" + id});
    EXPECT_EQ(r.code, 0) << r.err;
    r = cli({"ls", id});
    EXPECT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(cli({"rename", "/工作/" + id, "丙"}).code, 0);

    // Files: moved, renamed, deleted.
    ASSERT_EQ(cli({"mv", "/样例数据.bin", "/资料/欢迎.txt", "/工作/丙"}).code, 0);
    r = cli({"--json", "ls", "/工作/丙"});
    EXPECT_TRUE(has(r.out, "样例数据.bin")) << r.out;
    EXPECT_TRUE(has(r.out, "欢迎.txt"));
    r = cli({"mv", "/工作/丙/欢迎.txt", "/工作/丙/样例数据.bin"});
    EXPECT_EQ(r.code, 1);  // the destination is a file
    r = cli({"mv", "/工作/甲", "/"});
    EXPECT_EQ(r.code, 1);  // folders do not move
    r = cli({"mv", "/工作/丙/欢迎.txt", "/工作/没有", "/"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(has(cli({"ls", "/工作/丙"}).out, "欢迎.txt"));  // nothing moved

    ASSERT_EQ(cli({"rename", "/工作/丙/欢迎.txt", "你好.txt"}).code, 0);
    r = cli({"rename", "/工作/丙/你好.txt", "a/b"});
    EXPECT_EQ(r.code, 1);
    r = cli({"rename", "/", "x"});
    EXPECT_EQ(r.code, 1);

    // rm asks; without a terminal it will not ask and changes nothing.
    r = cli({"rm", "/工作/丙/你好.txt"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(has(r.err, "-y")) << r.err;
    EXPECT_TRUE(has(cli({"ls", "/工作/丙"}).out, "你好.txt"));
    ASSERT_EQ(cli({"rm", "-y", "/工作/丙/你好.txt"}).code, 0);
    EXPECT_FALSE(has(cli({"ls", "/工作/丙"}).out, "你好.txt"));
    r = cli({"rm", "-y", "/工作"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(has(r.err, "子目录")) << r.err;
    r = cli({"rm", "-y", "/"});
    EXPECT_EQ(r.code, 1);

    // Another account's file, named by its id: not ours to delete or move,
    // and nothing says it was.
    std::vector<std::string> demo_home = {"XDG_CONFIG_HOME=" +
                                          (home_.path() / "demo-config").string()};
    ASSERT_EQ(cli({"login", "demo", "--password-stdin"}, "demo123\n", demo_home).code, 0);
    r = cli({"--json", "ls", "/工作/丙/样例数据.bin"});
    auto at = r.out.find("\"id\":");
    ASSERT_NE(at, std::string::npos) << r.out;
    std::string foreign = "id:" + r.out.substr(at + 5, r.out.find(',', at) - at - 5);
    r = cli({"rm", "-y", foreign}, {}, demo_home);
    EXPECT_EQ(r.code, 3) << r.out << r.err;
    EXPECT_FALSE(has(r.out, "已删除"));
    r = cli({"mv", foreign, "/我的文档"}, {}, demo_home);
    EXPECT_EQ(r.code, 3) << r.out << r.err;
    EXPECT_FALSE(has(r.out, "已移动"));
    EXPECT_TRUE(has(cli({"ls", "/工作/丙"}).out, "样例数据.bin"));

    r = cli({"link", "/工作"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(has(r.out, "/wdwj.php?")) << r.out;
    r = cli({"link", "/工作/丙/样例数据.bin", "--direct"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(has(r.out, "/yunxz1.php?")) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST_F(CliRoad, PutAndGetBackByteExact) {
    login_guest();
    fs::path src = home_.path() / "src";
    fs::create_directories(src / "相册" / "2024");
    std::string a = bytes(300000, 1), b = bytes(70000, 2), c = bytes(5, 3);
    write_file(src / "单个.bin", a);
    write_file(src / "相册" / "b.bin", b);
    write_file(src / "相册" / "2024" / "c.txt", c);
    ASSERT_EQ(cli({"mkdir", "/上传"}).code, 0);
    CliRun r = cli({"put", (src / "单个.bin").string(), (src / "相册").string(), "--to", "/上传"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(has(r.out, "已上传")) << r.out;
    r = cli({"--json", "ls", "/上传/相册/2024"});
    EXPECT_TRUE(has(r.out, "\"name\":\"c.txt\"")) << r.out;

    fs::path out = home_.path() / "out";
    fs::create_directories(out);
    r = cli({"get", "/上传/单个.bin", "-o", out.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(out / "单个.bin"), a);
    r = cli({"get", "/上传/相册", "-o", out.string(), "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(read_file(out / "相册" / "b.bin"), b);
    EXPECT_EQ(read_file(out / "相册" / "2024" / "c.txt"), c);
    EXPECT_TRUE(has(r.out, "\"status\":\"downloaded\"")) << r.out;
    for (const auto& e : fs::recursive_directory_iterator(out))
        EXPECT_FALSE(has(e.path().string(), ".part") || has(e.path().string(), "resume"))
            << e.path();

    // A file named by its id alone keeps its own name.
    r = cli({"--json", "ls", "/上传/单个.bin"});
    auto at = r.out.find("\"id\":");
    ASSERT_NE(at, std::string::npos) << r.out;
    std::string id = "id:" + r.out.substr(at + 5, r.out.find(',', at) - at - 5);
    fs::path by_id = home_.path() / "by-id";
    fs::create_directories(by_id);
    r = cli({"get", id, "-o", by_id.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(read_file(by_id / "单个.bin"), a);

    // Into the current folder; an existing file is skipped, renamed or replaced.
    r = cli({"get", "/上传/单个.bin"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(read_file(work() / "单个.bin"), a);
    write_file(work() / "单个.bin", "old");
    r = cli({"get", "/上传/单个.bin"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(has(r.out, "跳过")) << r.out;
    EXPECT_EQ(read_file(work() / "单个.bin"), "old");
    ASSERT_EQ(cli({"get", "/上传/单个.bin", "--on-exists", "rename"}).code, 0);
    int copies = 0;
    for (const auto& e : fs::directory_iterator(work()))
        if (has(e.path().filename().string(), "单个.bin")) ++copies;
    EXPECT_EQ(copies, 2);
    ASSERT_EQ(cli({"get", "/上传/单个.bin", "--on-exists", "overwrite"}).code, 0);
    EXPECT_EQ(read_file(work() / "单个.bin"), a);

    // A folder that cannot be written and a local file that cannot be read change nothing.
    fs::path locked = home_.path() / "locked";
    fs::create_directories(locked);
    ::chmod(locked.c_str(), 0500);
    if (::access(locked.c_str(), W_OK) != 0) {
        r = cli({"get", "/上传/单个.bin", "-o", locked.string()});
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(has(r.err, "无法写入")) << r.err;
    }
    // As root too: a plain file or a missing folder as the target.
    write_file(home_.path() / "plain", "x");
    for (const auto& target : {home_.path() / "plain", home_.path() / "missing"}) {
        r = cli({"get", "/上传/单个.bin", "-o", target.string()});
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(has(r.err, "目标文件夹无法写入")) << r.err;
    }
    EXPECT_FALSE(fs::exists(home_.path() / "missing"));
    r = cli({"get", "/上传/没有.bin", "-o", out.string()});
    EXPECT_EQ(r.code, 1);
    std::string before = cli({"ls", "/上传"}).out;
    r = cli({"put", (src / "单个.bin").string(), (src / "不存在.bin").string(), "--to", "/上传"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(has(r.err, "文件无法读取")) << r.err;
    EXPECT_EQ(cli({"ls", "/上传"}).out, before);
    // A FIFO is no file to send, and is never waited on.
    ASSERT_EQ(::mkfifo((src / "pipe").c_str(), 0600), 0);
    r = cli({"put", (src / "pipe").string(), "--to", "/上传"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(has(r.err, "文件无法读取")) << r.err;
    EXPECT_EQ(cli({"ls", "/上传"}).out, before);
    r = cli({"put", (src / "单个.bin").string(), "--to", "/上传/单个.bin"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(cli({"ls", "/上传"}).out, before);
}

TEST_F(CliRoad, InstantUploadSendsNothingByFtp) {
    login_guest();
    fs::path src = home_.path() / "src";
    fs::create_directories(src);
    std::string content = bytes(200000, 9);
    write_file(src / "first.bin", content);
    write_file(src / "again.bin", content);
    write_file(src / "new.bin", bytes(1000, 10));
    ASSERT_EQ(cli({"put", (src / "first.bin").string()}).code, 0);
    // No FTP server at this address: only an upload without FTP can succeed.
    std::vector<std::string> no_ftp = {"QORVEL_FTP_HOST=127.0.0.3"};
    CliRun r = cli({"put", "--instant", (src / "again.bin").string()}, {}, no_ftp);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(has(r.out, "已秒传")) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(has(cli({"ls"}).out, "again.bin"));
    // Content the service does not hold goes by FTP, which is not there.
    r = cli({"put", "--instant", (src / "new.bin").string()}, {}, no_ftp);
    EXPECT_EQ(r.code, 4) << r.err;
    EXPECT_FALSE(has(cli({"ls"}).out, "new.bin"));
    fs::path out = home_.path() / "out";
    fs::create_directories(out);
    ASSERT_EQ(cli({"get", "/again.bin", "-o", out.string()}).code, 0);
    EXPECT_EQ(read_file(out / "again.bin"), content);
}

TEST_F(CliRoad, ServiceGoneMidDownloadLeavesAResumablePartial) {
    // File host 2 (the guest's) sends about 256 KB a second.
    service_.reset();
    start_service({"--throttle-rate", "262144"}, true);
    login_guest();
    fs::path src = home_.path() / "src";
    fs::create_directories(src);
    std::string content = bytes(2 * 1024 * 1024, 4);
    write_file(src / "slow.bin", content);
    ASSERT_EQ(cli({"put", (src / "slow.bin").string()}).code, 0);

    // Into a new name, and over an old file of that name.
    for (bool over_old : {false, true}) {
        SCOPED_TRACE(over_old ? "over an old file" : "a new file");
        fs::path out = home_.path() / (over_old ? "out-old" : "out-new");
        fs::create_directories(out);
        if (over_old) write_file(out / "slow.bin", "old");
        std::vector<std::string> get = {"--json", "get", "/slow.bin", "-o", out.string()};
        if (over_old) get.insert(get.end(), {"--on-exists", "overwrite"});

        pid_t pid = spawn(get, {});
        // Until the first checkpoint is written beside the partial file.
        auto until = std::chrono::steady_clock::now() + 20s;
        fs::path note = out / "slow.bin.qorvel-resume";
        while (std::chrono::steady_clock::now() < until && !has(read_file(note), "QRVLRESUME1"))
            std::this_thread::sleep_for(50ms);
        ASSERT_TRUE(has(read_file(note), "QRVLRESUME1"));
        service_->stop();
        CliRun r = finish(pid);
        EXPECT_EQ(r.code, 4) << r.err;
        EXPECT_TRUE(has(r.err, "再次运行 get")) << r.err;
        // Never a file under its final name before it is whole.
        if (over_old)
            EXPECT_EQ(read_file(out / "slow.bin"), "old");
        else
            EXPECT_FALSE(fs::exists(out / "slow.bin"));
        int partials = 0;
        for (const auto& e : fs::directory_iterator(out))
            if (has(e.path().filename().string(), ".part")) ++partials;
        EXPECT_EQ(partials, 1);

        r = cli({"ls"});
        EXPECT_EQ(r.code, 4);
        EXPECT_TRUE(has(r.err, "无法连接")) << r.err;

        ASSERT_TRUE(service_->restart());
        r = cli(get);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(has(r.out, "\"resumed\":true")) << r.out;
        EXPECT_EQ(read_file(out / "slow.bin"), content);
        std::vector<std::string> left;
        for (const auto& e : fs::directory_iterator(out)) left.push_back(e.path().filename());
        EXPECT_EQ(left, std::vector<std::string>{"slow.bin"});
    }
}

}  // namespace
