#include "seed.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "store.h"

namespace qorvel::service {

namespace {

// Deterministic filler so that the demo blobs are the same on every machine.
std::string filler(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x & 0xFF);
    }
    return out;
}

int folder(Store& store, int account, int parent, const char* name) {
    return store.create_folder(account, parent, name).value();
}

void file(Store& store, int account, int folder_id, const std::string& name,
          const std::string& bytes) {
    store.add_file(account, folder_id, name, store.put_blob(bytes)).value();
}

}  // namespace

void seed_demo(Store& store) {
    store.transaction([&] {
        if (store.meta("demo_seeded")) return;
        if (store.account_by_name("demo") || store.account_by_name("guest")) {
            store.set_meta("demo_seeded", "1");
            return;
        }
        int demo = 0, guest = 0;
        store.register_account("demo", "demo123", "demo@example.com", &demo);
        store.register_account("guest", "guest123", "guest@example.com", &guest);
        store.set_account_details(demo, true, "8888", "我的小学是？", "实验小学");
        store.set_account_details(guest, false, "", "最喜欢的颜色？", "蓝色");

        file(store, demo, 0, "使用说明.txt",
             "欢迎使用 Qorvel 网盘。\r\nWelcome to the Qorvel demo.\r\n");
        file(store, demo, 0, "大文件.bin", filler(4 * 1024 * 1024, 1));
        file(store, demo, 0, "空文件.txt", "");
        store.add_link_file(demo, 0, "外部链接.zip", "http://www.example.com/qorvel/demo.zip")
            .value();

        int docs = folder(store, demo, 0, "我的文档");
        file(store, demo, docs, "报告.doc", filler(150 * 1024, 2));
        file(store, demo, docs, "会议记录.txt", "二〇二四年会议记录\r\n");
        int photos = folder(store, demo, 0, "照片");
        int trip = folder(store, demo, photos, "2023年旅行");
        file(store, demo, trip, "长城.jpg", filler(300 * 1024, 3));
        int beijing = folder(store, demo, trip, "北京");
        file(store, demo, beijing, "故宫.jpg", filler(200 * 1024, 4));
        folder(store, demo, beijing, "胡同");
        int paging = folder(store, demo, 0, "分页测试");
        for (int i = 1; i <= 45; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "文件%02d.txt", i);
            file(store, demo, paging, name, "第" + std::to_string(i) + "个文件\r\n");
        }

        int material = folder(store, guest, 0, "资料");
        file(store, guest, material, "欢迎.txt", "访客帐号的文件。\r\n");
        file(store, guest, 0, "样例数据.bin", filler(1536 * 1024, 5));
        store.set_meta("demo_seeded", "1");
    });
}

}  // namespace qorvel::service
