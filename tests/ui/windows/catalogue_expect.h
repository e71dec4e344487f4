// The window catalogue as the tests expect it, written out independently of
// the builders: window, control, kind, place and caption (UTF-8).
#pragma once

#include <vector>

namespace qorvel::test {

struct ExpectedControl {
    const char* window;
    const char* name;
    const char* kind;  // ui::kind_name
    int x, y, w, h;
    const char* caption;
};

inline const std::vector<ExpectedControl>& expected_visible_controls() {
    static const std::vector<ExpectedControl> all = {
        {"main", "选择夹1", "tab", 13, 7, 635, 370, ""},
        {"main", "选择夹3", "tab", 17, 31, 605, 322, ""},
        {"main", "选择文件", "button", 16, 38, 90, 32, "选择"},
        {"main", "组合框8", "combo", 122, 44, 96, 20, ""},
        {"main", "上传按钮", "button", 235, 40, 95, 32, "上传"},
        {"main", "标签48", "label", 399, 45, 192, 24, "上传至：默认文件夹"},
        {"main", "标签1", "label", 15, 76, 355, 24, "选择上传文件，目前仅支持单个120M内上传。"},
        {"main", "标签43", "label", 370, 76, 232, 24, ""},
        {"main", "超级列表框6", "list_view", 14, 103, 580, 126, ""},
        {"main", "透明标签1", "transparent_label", 141, 139, 358, 56,
         "拖放文件/目录到此可添加并上传"},
        {"main", "选择框2", "check", 18, 234, 160, 24, "上传完成后关闭计算机"},
        {"main", "选择框1", "check", 184, 236, 120, 24, "使用极速秒传"},
        {"main", "标签46", "label", 16, 260, 80, 24, "进度：0%"},
        {"main", "标签47", "label", 96, 260, 264, 24, "上传速度：0KB"},
        {"main", "标签50", "label", 248, 259, 128, 24, "文件大小：0KB"},
        {"main", "标签49", "label", 384, 260, 192, 24, "状态：准备就绪!"},
        {"main", "进度条", "progress", 14, 285, 580, 20, ""},
        {"main", "超级列表框4", "list_view", 10, 33, 591, 280, ""},
        {"main", "标签55", "label", 12, 30, 600, 24,
         "温馨提示：双击文件夹即可读取文件目录，右键可弹出操作菜单，按住CTRL可以进行多选。"},
        {"main", "标签60", "label", 499, 30, 120, 24, "本页文件数：0个"},
        {"main", "树型框1", "tree", 11, 61, 440, 98, ""},
        {"main", "标签10", "label", 459, 61, 90, 24, "我的文件："},
        {"main", "按钮32", "button", 459, 87, 92, 32, "上传到该目录"},
        {"main", "按钮47", "button", 559, 87, 64, 32, "下载"},
        {"main", "标签57", "label", 19, 167, 408, 24, "正在读取文件目录，请稍后。"},
        {"main", "选择框4", "check", 259, 167, 168, 24, "目录读取后设置为上传目录"},
        {"main", "超级列表框1", "list_view", 10, 198, 537, 129, ""},
        {"main", "按钮38", "button", 559, 224, 64, 32, "下载"},
        {"main", "组合框1", "combo", 559, 263, 68, 20, ""},
        {"main", "进度条1", "progress", 11, 338, 536, 19, ""},
        {"main", "选择夹2", "tab", 23, 27, 600, 325, ""},
        {"main", "超级列表框2", "list_view", 9, 41, 576, 155, ""},
        {"main", "选择框3", "check", 13, 206, 160, 24, "下载完成后关闭计算机"},
        {"main", "标签9", "label", 12, 236, 576, 24,
         "当前不是VIP会员，下载速度不超过1M/s，高峰期可能无法下载，开通VIP解除。"},
        {"main", "标签44", "label", 15, 277, 57, 24, "保存位置："},
        {"main", "编辑框49", "edit", 85, 275, 200, 27, ""},
        {"main", "按钮34", "button", 301, 275, 53, 28, ""},
        {"main", "按钮28", "button", 366, 275, 101, 28, "开始下载"},
        {"main", "组合框6", "combo", 481, 278, 97, 20, ""},
        {"main", "超级列表框3", "list_view", 10, 32, 576, 279, ""},

        {"login", "标签1", "label", 24, 10, 80, 24, "帐号："},
        {"login", "编辑框1", "edit", 24, 42, 240, 32, ""},
        {"login", "标签2", "label", 24, 82, 80, 24, "密码："},
        {"login", "编辑框2", "edit", 24, 114, 240, 32, ""},
        {"login", "按钮1", "button", 24, 154, 64, 32, "登录"},
        {"login", "按钮2", "button", 96, 154, 64, 32, "注册"},
        {"login", "按钮3", "button", 168, 154, 96, 32, "找回密码"},
        {"login", "按钮4", "button", 24, 194, 240, 32, "QQ登录"},
        {"login", "选择框1", "check", 24, 239, 192, 24, "记住帐号密码（公共场所慎选）"},

        {"registration", "标签1", "label", 9, 8, 80, 24, "帐号："},
        {"registration", "编辑框1", "edit", 8, 36, 250, 28, ""},
        {"registration", "标签2", "label", 10, 66, 80, 24, "密码："},
        {"registration", "编辑框2", "edit", 9, 94, 249, 28, ""},
        {"registration", "标签3", "label", 9, 127, 80, 24, "确认密码："},
        {"registration", "编辑框3", "edit", 8, 155, 250, 28, ""},
        {"registration", "标签5", "label", 9, 187, 80, 24, "邮箱地址："},
        {"registration", "编辑框5", "edit", 8, 215, 248, 28, ""},
        {"registration", "选择框1", "check", 16, 256, 152, 24, "同意"},
        {"registration", "超级链接框1", "link", 65, 256, 79, 24, "《使用条款》"},
        {"registration", "按钮1", "button", 177, 259, 80, 32, "注册"},

        {"create_folder", "标签1", "label", 24, 16, 80, 24, "目录继承"},
        {"create_folder", "编辑框4", "edit", 24, 48, 224, 24, ""},
        {"create_folder", "标签3", "label", 27, 76, 197, 24, "文件夹名称"},
        {"create_folder", "编辑框2", "edit", 25, 104, 224, 26, ""},
        {"create_folder", "按钮1", "button", 168, 150, 80, 32, "创建"},

        {"web_login", "超文本浏览框1", "web_view", 0, 0, 536, 432, ""},

        {"password_recovery", "标签1", "label", 9, 6, 80, 24, "帐号："},
        {"password_recovery", "编辑框1", "edit", 9, 36, 265, 30, ""},
        {"password_recovery", "标签2", "label", 9, 70, 80, 24, "重置登录密码："},
        {"password_recovery", "编辑框2", "edit", 9, 100, 265, 30, ""},
        {"password_recovery", "标签3", "label", 9, 138, 80, 24, "重复确认密码："},
        {"password_recovery", "编辑框3", "edit", 9, 168, 265, 30, ""},
        {"password_recovery", "标签4", "label", 9, 206, 80, 24, "问题："},
        {"password_recovery", "编辑框4", "edit", 9, 236, 265, 30, ""},
        {"password_recovery", "标签5", "label", 9, 270, 80, 24, "答案："},
        {"password_recovery", "编辑框5", "edit", 9, 300, 265, 30, ""},
        {"password_recovery", "按钮1", "button", 193, 342, 80, 26, "找回"},
        {"password_recovery", "标签6", "label", 9, 374, 80, 24, "帐号："},
        {"password_recovery", "编辑框6", "edit", 9, 404, 265, 30, ""},
        {"password_recovery", "标签7", "label", 9, 438, 80, 24, "注册邮箱："},
        {"password_recovery", "编辑框7", "edit", 9, 468, 265, 30, ""},
        {"password_recovery", "按钮2", "button", 193, 510, 80, 26, "找回"},

        {"create_link_file", "标签1", "label", 16, 16, 56, 24, "文件名："},
        {"create_link_file", "编辑框1", "edit", 16, 44, 248, 29, ""},
        {"create_link_file", "标签2", "label", 16, 80, 72, 24, "外链地址："},
        {"create_link_file", "编辑框2", "edit", 16, 110, 248, 29, "http://"},
        {"create_link_file", "按钮1", "button", 184, 152, 80, 32, "创建"},

        {"folder_new_name", "标签1", "label", 28, 15, 144, 24, "新文件夹名："},
        {"folder_new_name", "编辑框1", "edit", 29, 44, 231, 28, ""},
        {"folder_new_name", "按钮1", "button", 164, 80, 100, 31, "重置"},

        {"file_operation", "组合框1", "combo", 16, 16, 224, 20, ""},
        {"file_operation", "按钮2", "button", 16, 48, 104, 31, "确定删除？"},
        {"file_operation", "按钮1", "button", 136, 48, 100, 31, "移动"},

        {"terms", "编辑框1", "edit", 16, 8, 344, 200, nullptr},  // long text, checked apart

        {"rename_file", "标签1", "label", 24, 16, 80, 24, "新文件名："},
        {"rename_file", "编辑框1", "edit", 24, 48, 224, 24, ""},
        {"rename_file", "按钮1", "button", 168, 80, 80, 32, "重置"},
    };
    return all;
}

struct ExpectedWindow {
    const char* id;
    const char* caption;
    int w, h;
    bool modal;
    bool escape_closes;
};

inline const std::vector<ExpectedWindow>& expected_windows() {
    static const std::vector<ExpectedWindow> all = {
        {"main", "Qorvel客户端v2.3.4.9修正版", 665, 415, false, false},
        {"login", "Qorvel登录", 302, 305, true, true},
        {"registration", "帐号注册", 279, 340, true, true},
        {"create_folder", "创建文件夹", 285, 228, false, true},
        {"web_login", "QQ互联登录", 521, 456, true, true},
        {"password_recovery", "找回密码", 291, 579, true, true},
        {"create_link_file", "创建外链文件", 291, 229, false, true},
        {"folder_new_name", "文件夹新名称", 299, 157, false, true},
        {"file_operation", "文件操作", 262, 126, false, true},
        {"terms", "使用条款", 380, 250, true, true},
        {"rename_file", "修改文件名", 278, 162, false, true},
    };
    return all;
}

struct ExpectedColumns {
    const char* list;
    std::vector<std::pair<const char*, int>> columns;
};

inline const std::vector<ExpectedColumns>& expected_columns() {
    static const std::vector<ExpectedColumns> all = {
        {"超级列表框1", {{"文件名", 250}, {"大小", 50}, {"日期", 160}, {"下载量", 150}}},
        {"超级列表框2",
         {{"文件名", 200},
          {"大小", 80},
          {"下载进度", 80},
          {"pid", 100},
          {"下载速度", 100},
          {"存放目录", 200}}},
        {"超级列表框3", {{"文件名", 170}, {"文件地址", 300}}},
        {"超级列表框4", {{"文件名", 240}, {"大小", 150}, {"pid", 80}, {"备注", 100}}},
        {"超级列表框6", {{"文件路径", 100}, {"上传目录", 80}, {"ID", 50}, {"大小", 150}}},
    };
    return all;
}

}  // namespace qorvel::test
