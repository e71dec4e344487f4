// The command-line client's texts (UTF-8 here; GBK() at the use site, the
// terminal gets them back as UTF-8).
#pragma once

namespace qorvel::cli::text {

inline constexpr const char* kRoot = "默认文件夹";

inline constexpr const char* kNotLoggedIn = "尚未登录，请先运行 qorvel-cli login 帐号";
inline constexpr const char* kSessionEnded = "登录已失效，请重新登录";
inline constexpr const char* kLoginRefused = "登录失败，帐号密码错误！";
inline constexpr const char* kUnreachable = "无法连接到服务器，请检查网络后重试！";
inline constexpr const char* kNotUnderstood = "服务器的回答无法识别";
inline constexpr const char* kLoggedIn = "已登录：";
inline constexpr const char* kLoggedOut = "已注销";
inline constexpr const char* kMember = "会员";
inline constexpr const char* kNotMember = "非会员";
inline constexpr const char* kSessionUnwritable = "无法保存登录信息：";
inline constexpr const char* kSessionUnsafe = "登录信息文件不安全，已拒绝读取：";
inline constexpr const char* kPasswordPrompt = "密码：";
inline constexpr const char* kNoPassword = "没有读到密码";
inline constexpr const char* kNoTerminal = "没有终端可以输入密码，请用 --password-stdin";

inline constexpr const char* kUnknownPath = "路径不存在：";
inline constexpr const char* kThroughFile = "路径经过一个文件：";
inline constexpr const char* kAmbiguous = "有多个同名项，请改用 id：";
inline constexpr const char* kNotFolder = "不是文件夹：";
inline constexpr const char* kNotFile = "不是文件：";
inline constexpr const char* kRootProtected = "无法删除或更改默认文件夹";
inline constexpr const char* kBadName = "名称无效：";
inline constexpr const char* kNameRefused = "服务器拒绝了这个名称：";
inline constexpr const char* kRefused = "服务器拒绝了操作：";
inline constexpr const char* kHasSubfolders = "该目录存在子目录，无法删除：";
inline constexpr const char* kFolderMove = "只能移动文件，不能移动文件夹：";
inline constexpr const char* kNoPage = "没有这一页：";

inline constexpr const char* kAskDelete = "确定删除以上项目吗？(y/N) ";
inline constexpr const char* kNeedYes = "标准输入不是终端，不会询问；确定要删除请加 -y";
inline constexpr const char* kNothingDeleted = "已取消，没有删除任何项目";
inline constexpr const char* kDeleted = "已删除：";
inline constexpr const char* kCreated = "已创建：";
inline constexpr const char* kMoved = "已移动：";
inline constexpr const char* kRenamed = "已改名：";

inline constexpr const char* kDirectNeedsFile = "直链只能给文件";

inline constexpr const char* kSaved = "已下载：";
inline constexpr const char* kSkipped = "已存在，跳过：";
inline constexpr const char* kNoLink = "无法取得文件的下载地址：";
inline constexpr const char* kLinkOnly = "外链文件没有内容可下载：";
inline constexpr const char* kBadLocalName = "文件名无效：";
inline constexpr const char* kCannotWrite = "无法写入 ";
inline constexpr const char* kNoFreeName = "没有可用的文件名：";
inline constexpr const char* kDownloadFailed = "下载失败：";
inline constexpr const char* kNotVerified = "文件内容未经核对，已放弃：";
inline constexpr const char* kInterrupted = "下载中断，进度已保存，再次运行 get 即可继续：";
inline constexpr const char* kResumed = "继续下载：";

inline constexpr const char* kUploaded = "已上传：";
inline constexpr const char* kInstant = "已秒传：";
inline constexpr const char* kUnreadable = "文件无法读取：";
inline constexpr const char* kTooLarge = "文件不能达到 1024MB：";
inline constexpr const char* kNameNotAllowed = "服务器不接受这种文件名：";
inline constexpr const char* kLinkSkipped = "符号链接不上传：";
inline constexpr const char* kUploadFailed = "上传失败：";
inline constexpr const char* kNotRegistered = "上传后登记失败：";

}  // namespace qorvel::cli::text
