// The texts an operation's error carries (UTF-8 here; GBK() where they are
// used), as the windows have always shown them.
#pragma once

namespace qorvel::api::text {

inline constexpr const char* kLoginRefused = "登录失败，帐号密码错误！";

// Folder and file changes.
inline constexpr const char* kHasSubfolders = "该目录存在子目录，无法删除！";
inline constexpr const char* kCreateFailed = "创建失败！";
inline constexpr const char* kSessionFailed = "创建失败，可能登录已经失效。";
// Ours: a request that got no answer is no verdict on the change.
inline constexpr const char* kUnreachable = "无法连接服务器，请检查网络后重试。";

inline constexpr const char* kNoStorageLink = "无法取得文件的下载地址";
inline constexpr const char* kNotRegistered = "上传失败，文件被使用中！";

}  // namespace qorvel::api::text
