// A whole user road against one service: changes, both upload ways, ranged
// download, other accounts kept out, and everything still there after a
// restart.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>

#include "client_view.h"
#include "net/charset.h"
#include "net/form.h"
#include "net/text.h"
#include "net/web.h"
#include "store.h"
#include "support/service_addresses.h"

namespace qorvel::test {
namespace {

int find_folder(const std::vector<FolderRow>& rows, const std::string& name_gbk) {
    for (const auto& r : rows)
        if (r.name == name_gbk) return r.id;
    return -1;
}

std::optional<FileRow> find_file(const FilePage& page, const std::string& name_gbk) {
    for (const auto& r : page.rows)
        if (r.name == name_gbk) return r;
    return std::nullopt;
}

std::string ids_text(std::initializer_list<int> ids) {
    std::string out;
    for (int id : ids) out += std::to_string(id) + ",";
    return out;
}

// curl as an independent FTP client; returns its exit code.
int curl_upload(const std::filesystem::path& file, const std::string& url) {
    std::string cmd = "curl -s -S --max-time 30 -T '" + file.string() + "' '" + url + "' 2>&1";
    return std::system(cmd.c_str());
}

TEST(ServiceFlow, WholeRoadThenRestart) {
    ServiceInstance service;
    ASSERT_TRUE(service.start()) << read_file(service.log_file());
    ClientView view(service);
    Login demo = view.login("demo", "demo123");
    ASSERT_TRUE(demo.ok());
    const std::string key = demo.key;

    // Create a folder tree.
    std::string answer =
        view.post("/post/cjml.php?zh=" + key, Form().add("fwmm", "工作资料").add("ejml", 0).str());
    ASSERT_GT(text_replace_all(answer, "\r\n", "").size(), 2u);
    int work = find_folder(view.folders(demo, 0), GBK("工作资料"));
    ASSERT_GT(work, 0);
    answer = view.post("/post/cjml.php?zh=" + key,
                       Form().add("fwmm", "子文件夹").add("ejml", work).str());
    ASSERT_GT(answer.size(), 2u);
    int sub = find_folder(view.folders(demo, work), GBK("子文件夹"));
    ASSERT_GT(sub, 0);
    // A parent that is not ours, an empty name: no folder.
    EXPECT_LE(
        view.post("/post/cjml.php?zh=" + key, Form().add("fwmm", "a").add("ejml", 987654).str())
            .size(),
        2u);
    EXPECT_LE(
        view.post("/post/cjml.php?zh=" + key, Form().add("fwmm", "").add("ejml", 0).str()).size(),
        2u);

    // Rename the folder (the name goes as GBK).
    answer = view.post("/post/sz5pc.php?mlid=" + std::to_string(work) + "&pid=" + key,
                       Form().add("btn2", GBK("工作文件")).str());
    EXPECT_NE(text_find(answer, "1"), -1);
    EXPECT_EQ(find_folder(view.folders(demo, 0), GBK("工作文件")), work);

    // A folder with a sub-folder stays; the empty sub-folder goes.
    answer = view.post("/post/scml.php?pid=" + std::to_string(work) + "&zh=" + key,
                       "vipjhm=" + std::to_string(work));
    EXPECT_EQ(text_find(answer, "1"), -1);
    EXPECT_EQ(find_folder(view.folders(demo, 0), GBK("工作文件")), work);
    answer = view.post("/post/scml.php?pid=" + std::to_string(sub) + "&zh=" + key,
                       "vipjhm=" + std::to_string(sub));
    EXPECT_NE(text_find(answer, "1"), -1);
    EXPECT_TRUE(view.folders(demo, work).empty());

    // Instant upload of a blob the service holds, by its digest.
    FilePage root = view.files(demo, 0, 0);
    auto big = find_file(root, GBK("大文件.bin"));
    ASSERT_TRUE(big);
    std::string big_bytes = web_get(service.files3() + "/up/" + view.storage_link(big->id, "8888"));
    ASSERT_EQ(big_bytes.size(), 4u << 20);
    std::string md5 = service::md5_hex(big_bytes);
    answer = view.post("/jsmc.php?bsm=" + key + "&mlid=" + std::to_string(work) + "&md5=" + md5,
                       "wjdl=" + GBK("秒传副本.bin"));
    int instant = ClientView::registered_id(answer);
    ASSERT_GT(instant, 0) << answer;
    EXPECT_EQ(view.files(demo, work, 0).rows.at(0).id, instant);
    // An unknown digest is not registered.
    answer =
        view.post("/jsmc.php?bsm=" + key + "&mlid=0&md5=" + std::string(32, 'a'), "wjdl=n.bin");
    EXPECT_EQ(ClientView::registered_id(answer), -1);

    // FTP upload with curl, then registration under the plain name.
    TempDir local;
    std::string content;
    for (int i = 0; i < 20000; ++i) content += static_cast<char>((i * 7 + i / 13) & 0xFF);
    content += "\r\nline\r\n";
    write_file(local.path() / "up.bin", content);
    const std::string name = GBK("上传测试.bin");
    ASSERT_EQ(
        curl_upload(local.path() / "up.bin", service.ftp_url(url_escape_all(name + ".qrvllswj"))),
        0);
    answer = view.post("/tjwj.php?bsm=" + key + "&mlid=" + std::to_string(work), "wjdl=" + name);
    int uploaded = ClientView::registered_id(answer);
    ASSERT_GT(uploaded, 0) << answer;
    // The upload is consumed: a second registration finds nothing.
    EXPECT_EQ(ClientView::registered_id(view.post(
                  "/tjwj.php?bsm=" + key + "&mlid=" + std::to_string(work), "wjdl=" + name)),
              -1);
    auto row = find_file(view.files(demo, work, 0), name);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->id, uploaded);
    // The digest taken as the upload arrived is the content's own: the same bytes go by digest.
    answer = view.post("/jsmc.php?bsm=" + key + "&mlid=0&md5=" + service::md5_hex(content),
                       "wjdl=" + GBK("再传一次.bin"));
    EXPECT_GT(ClientView::registered_id(answer), 0) << answer;

    // Download by range, from the end of the file.
    std::string link = view.storage_link(uploaded, "8888");
    std::string headers = "Range: bytes=" + std::to_string(content.size() - 10) + "-\r\n";
    std::string answer_headers;
    std::string tail =
        web_request(service.files3() + "/up/" + link, "GET", "", &headers, "", &answer_headers);
    EXPECT_EQ(tail, content.substr(content.size() - 10));
    EXPECT_EQ(web_get(service.files2() + "/up/" + link), content);

    // Rename, move, delete files.
    answer = view.post("/post/sz6pc.php?mlid=" + std::to_string(uploaded) + "&pid=" + key,
                       "btn2=" + GBK("改名后.bin"));
    EXPECT_NE(text_find(answer, "1"), -1);
    EXPECT_TRUE(find_file(view.files(demo, work, 0), GBK("改名后.bin")));
    view.get("/get/ydxz.php?pid=" + ids_text({uploaded, instant}) + "&ml=0&zh=" + key);
    EXPECT_TRUE(view.files(demo, work, 0).rows.empty());
    EXPECT_TRUE(find_file(view.files(demo, 0, 0), GBK("改名后.bin")));
    view.get("/get/plzc.php?pid=" + ids_text({instant}) + "&ml=0&zh=" + key);
    EXPECT_FALSE(find_file(view.files(demo, 0, 0), GBK("秒传副本.bin")));

    // A link-only entry.
    answer = view.post("/post/cjwjpc.php?mlpid=" + std::to_string(work) + "&zh=" + key,
                       "wjm=" + GBK("外链.txt") + "&wldz=http://example.org/a.txt");
    EXPECT_NE(text_find(answer, "1"), -1);
    auto ext = find_file(view.files(demo, work, 0), GBK("外链.txt"));
    ASSERT_TRUE(ext);
    EXPECT_EQ(ext->size, "0B");
    EXPECT_EQ(view.storage_link(ext->id, "8888"), "http://example.org/a.txt");

    // The guest account touches none of it.
    Login guest = view.login("guest", "guest123");
    ASSERT_TRUE(guest.ok());
    const std::string g = guest.key;
    EXPECT_EQ(text_find(view.post("/post/sz5pc.php?mlid=" + std::to_string(work) + "&pid=" + g,
                                  "btn2=hack"),
                        "1"),
              -1);
    EXPECT_EQ(text_find(view.post("/post/sz6pc.php?mlid=" + std::to_string(uploaded) + "&pid=" + g,
                                  "btn2=hack"),
                        "1"),
              -1);
    EXPECT_EQ(text_find(view.post("/post/scml.php?pid=" + std::to_string(work) + "&zh=" + g,
                                  "vipjhm=" + std::to_string(work)),
                        "1"),
              -1);
    view.get("/get/plzc.php?pid=" + ids_text({uploaded}) + "&ml=0&zh=" + g);
    view.get("/get/ydxz.php?pid=" + ids_text({ext->id}) + "&ml=0&zh=" + g);
    EXPECT_LE(view.post("/post/cjml.php?zh=" + g, "fwmm=x&ejml=" + std::to_string(work)).size(),
              2u);
    EXPECT_EQ(
        ClientView::registered_id(view.post(
            "/jsmc.php?bsm=" + g + "&mlid=" + std::to_string(work) + "&md5=" + md5, "wjdl=a")),
        -1);
    EXPECT_TRUE(find_file(view.files(demo, 0, 0), GBK("改名后.bin")));
    EXPECT_TRUE(find_file(view.files(demo, work, 0), GBK("外链.txt")));
    EXPECT_EQ(find_folder(view.folders(demo, 0), GBK("工作文件")), work);

    // Everything survives a restart, the session included; seeding again adds nothing.
    size_t root_files = view.files(demo, 0, 0, true).rows.size();
    size_t root_folders = view.folders(demo, 0).size();
    ASSERT_TRUE(service.restart()) << read_file(service.log_file());
    EXPECT_EQ(view.session_check(key), key);
    EXPECT_EQ(view.files(demo, 0, 0, true).rows.size(), root_files);
    EXPECT_EQ(view.folders(demo, 0).size(), root_folders);
    EXPECT_EQ(find_folder(view.folders(demo, 0), GBK("工作文件")), work);
    EXPECT_EQ(web_get(service.files3() + "/up/" + view.storage_link(uploaded, "8888")), content);
    EXPECT_TRUE(view.login("demo", "demo123").ok());
    EXPECT_EQ(service.stop(), 0);
    std::string log = read_file(service.log_file());
    EXPECT_NE(log.find("SIGTERM"), std::string::npos);
}

}  // namespace
}  // namespace qorvel::test
