// The control names the storage browser reads and writes, in one place; a
// test checks each against the windows the catalogue builds.
#pragma once

namespace qorvel::storage::names {

// Main window.
inline constexpr const char* kTabs = "选择夹1";
inline constexpr const char* kTree = "树型框1";
inline constexpr const char* kFileList = "超级列表框1";
inline constexpr const char* kPageCombo = "组合框1";
inline constexpr const char* kStatus = "标签57";
inline constexpr const char* kPageFileCount = "标签60";
inline constexpr const char* kUploadTarget = "标签48";
inline constexpr const char* kUploadHere = "按钮32";
inline constexpr const char* kSetUploadCheck = "选择框4";
inline constexpr const char* kListAddress = "编辑框3";
inline constexpr const char* kFolderPattern = "编辑框47";
inline constexpr const char* kEntryPattern = "编辑框5";
inline constexpr const char* kPasswordMarker = "编辑框26";
inline constexpr const char* kActivityLog = "日志编辑框";
inline constexpr const char* kStampLog = "编辑框48";
inline constexpr const char* kNameList = "列表框3";
inline constexpr const char* kWorkList = "列表框2";
inline constexpr const char* kUploadedList = "超级列表框4";
inline constexpr const char* kFinishedList = "超级列表框3";

// Menus.
inline constexpr const char* kFileMenu = "菜单";
inline constexpr const char* kTreeMenu = "目录";
inline constexpr const char* kUploadedMenu = "上传完成菜单";
inline constexpr const char* kFinishedMenu = "完成菜单";

// The small windows: each has one action button 按钮1; "文件操作" has 按钮2 too.
inline constexpr const char* kAction = "按钮1";
inline constexpr const char* kDeleteButton = "按钮2";
inline constexpr const char* kParentEdit = "编辑框4";     // 创建文件夹
inline constexpr const char* kNewFolderEdit = "编辑框2";  // 创建文件夹
inline constexpr const char* kNameEdit = "编辑框1";  // 文件夹新名称, 修改文件名, 创建外链文件
inline constexpr const char* kLinkEdit = "编辑框2";     // 创建外链文件
inline constexpr const char* kTargetCombo = "组合框1";  // 文件操作

}  // namespace qorvel::storage::names
