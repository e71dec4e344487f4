#include "roads/transfer/roads.h"

namespace qorvel {

using ui::Event;
using ui::EventArgs;

void wire_transfer_operations(Client& c, ui::Window& main) {
    main.on("按钮38", Event::clicked, [&c](EventArgs&) { queue_selected_downloads(c); });
    main.on("按钮47", Event::clicked, [&c](EventArgs&) { queue_folder_download(c); });
    main.on("按钮28", Event::clicked, [&c](EventArgs&) { start_downloads(c); });
    main.on("按钮34", Event::clicked, [&c](EventArgs&) { choose_save_location(c); });
    main.on("时钟5", Event::tick,
            [&c](EventArgs&) { c.program().start_worker([&c] { update_download_progress(c); }); });
    main.on_chosen("菜单", "添加进下载列表并下载",
                   [&c](EventArgs&) { queue_selected_downloads(c); });
    main.on_chosen("目录", "下载该文件夹,最多500个,不含目录",
                   [&c](EventArgs&) { queue_folder_download(c); });
    main.on_chosen("开始菜单", "删除任务", [&c](EventArgs&) { delete_download_task(c); });
    main.on_chosen("开始菜单", "暂停任务", [&c](EventArgs&) { pause_download_task(c); });
    main.on_chosen("开始菜单", "继续任务", [&c](EventArgs&) { resume_download_task(c); });
    main.on_chosen("开始菜单", "重试任务", [&c](EventArgs&) { retry_download_task(c); });

    main.on("选择文件", Event::clicked, [&c](EventArgs&) { add_upload_files(c); });
    main.on("上传按钮", Event::clicked, [&c](EventArgs&) { start_uploads_by_hand(c); });
    main.on("拖放对象1", Event::files_dropped,
            [&c](EventArgs& a) { add_dropped_items(c, a.files); });
    main.on("上传速度时钟", Event::tick, [&c](EventArgs&) { update_upload_progress(c); });
    main.on_chosen("菜单", "上传文件到此", [&c](EventArgs&) { show_upload_target(c); });
    main.on_chosen("目录", "上传文件到此处", [&c](EventArgs&) { show_upload_target(c); });
    main.on_chosen("上传菜单", "删除该上传任务", [&c](EventArgs&) { delete_upload_task(c); });
    main.on_chosen("上传菜单", "清空上传任务", [&c](EventArgs&) { clear_upload_tasks(c); });
    main.on_chosen("上传菜单", "添加文件", [&c](EventArgs&) { add_upload_files_menu(c); });
    main.on_chosen("上传菜单", "添加文件夹", [&c](EventArgs&) { add_upload_folder(c); });
    main.on_chosen("上传菜单", "暂停任务", [&c](EventArgs&) { pause_upload_task(c); });
    main.on_chosen("上传菜单", "继续任务", [&c](EventArgs&) { resume_upload_task(c); });
    main.on_chosen("上传菜单", "重试任务", [&c](EventArgs&) { retry_upload_task(c); });

    main.on("组合框6", Event::item_selected, [&c](EventArgs&) { save_download_settings(c); });
    // Del does what the lists' delete items do.
    main.on_key("超级列表框2", ui::Key::del, ui::kNoModifiers,
                [&c](EventArgs&) { delete_download_task(c); });
    main.on_key("超级列表框6", ui::Key::del, ui::kNoModifiers,
                [&c](EventArgs&) { delete_upload_task(c); });
    // Space pauses or continues the selected row, Ctrl+R retries a failed one.
    main.on_key("超级列表框2", ui::Key::space, ui::kNoModifiers,
                [&c](EventArgs&) { pause_or_resume_download_task(c); });
    main.on_key("超级列表框6", ui::Key::space, ui::kNoModifiers,
                [&c](EventArgs&) { pause_or_resume_upload_task(c); });
    main.on_key("超级列表框2", ui::Key::r, ui::kCtrl, [&c](EventArgs&) { retry_download_task(c); });
    main.on_key("超级列表框6", ui::Key::r, ui::kCtrl, [&c](EventArgs&) { retry_upload_task(c); });

    c.confirm_exit_downloads = [&c] { return stop_download_for_exit(c); };
    c.account_opened = [&c] { open_account_transfers(c, c.session().get().account_name); };
    c.account_closing = [&c] { close_account_transfers(c); };
    c.folder_listed_for_download = [&c] { queue_listed_files(c); };
}

}  // namespace qorvel
