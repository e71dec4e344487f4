// The storage browser's texts (UTF-8 here; GBK() at the use site).
#pragma once

#include "api/messages.h"

namespace qorvel::storage::text {

inline constexpr const char* kBusy = "上一次的任务还没有完成，请稍后再提交。";
inline constexpr const char* kReadingFolders = "正在读取目录，请稍后^……";
inline constexpr const char* kReadingFiles = "目录读取完毕，正在读取文件，请稍后^……";
inline constexpr const char* kLoaded = "目录文件获取完毕。";
inline constexpr const char* kStampStart = "： 获取指定目录文件……！\r\n";
inline constexpr const char* kStampDone = "： 获取指定目录文件完毕！\r\n";
inline constexpr const char* kLogDone = "获取指定目录文件完毕。\r\n";
inline constexpr const char* kPageFileCount = "本页文件数：";
inline constexpr const char* kUploadTo = "上传至：";
inline constexpr const char* kRootFolder = "默认文件夹";

inline constexpr const char* kAskDeleteFolder = "是否删除该文件夹？";
inline constexpr const char* kRootProtected = "无法删除默认目录！";
inline constexpr const char* kDeleted = "删除成功！";
inline constexpr const char* kHasSubfolders = api::text::kHasSubfolders;
inline constexpr const char* kCreated = "创建成功！";
inline constexpr const char* kCreateFailed = api::text::kCreateFailed;
inline constexpr const char* kRenamed = "重置成功";
inline constexpr const char* kSessionFailed = api::text::kSessionFailed;
inline constexpr const char* kLinkCreated = "创建成功";
inline constexpr const char* kAskRenameFile =
    "亲，确定修改吗？如果文件原格式被改错了，就会导致打不开文件。";
inline constexpr const char* kCopied = "复制成功！";
inline constexpr const char* kDirectCopied =
    "复制成功！注意：使用网赚模式，或更改网盘密码，将导致直链失效，该功能只能在个人存储模式下使用"
    "。";

// Ours: a request that got no answer is no verdict on the change.
inline constexpr const char* kUnreachable = api::text::kUnreachable;
inline constexpr const char* kFolderUnreachable = "无法连接服务器，目录未能读取，请稍后重试。";
inline constexpr const char* kFilesUnreachable = "无法连接服务器，文件列表未能读取，请稍后重试。";

}  // namespace qorvel::storage::text
