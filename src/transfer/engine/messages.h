// The engine's message texts (GBK); "%s" and "%d" are filled by fill().
#pragma once

#include <string>

#include "net/charset.h"

namespace qorvel::engine::msg {

// One message a line reads best as a table.
// clang-format off

inline const std::string& bad_url() { return GBK("错误的url"); }
inline const std::string& resolving() { return GBK("正在解析域名 [%s]"); }
inline const std::string& connecting() { return GBK("正在连接 [%s:%d]"); }
inline const std::string& connected() { return GBK("连接 [%s:%d]成功"); }
inline const std::string& connect_failed() { return GBK("连接 [%s:%d]失败"); }
inline const std::string& connect_timeout() { return GBK("连接 [%s:%d]超时"); }
inline const std::string& awaiting_welcome() { return GBK("连接成功, 等待欢迎消息"); }
inline const std::string& no_welcome() { return GBK("无法得到欢迎消息"); }
inline const std::string& logged_in() { return GBK("登录成功"); }
inline const std::string& login_failed() { return GBK("登录失败"); }
inline const std::string& retry_in() { return GBK("等待%d秒后重试"); }
inline const std::string& too_many_attempts() { return GBK("超过尝试次数"); }
inline const std::string& sending() { return GBK("开始发送数据"); }
inline const std::string& upload_broken() { return GBK("上传出现异常"); }
inline const std::string& file_changed() { return GBK("文件在上传中被改动"); }
inline const std::string& unsupported_reply() { return GBK("不支持的响应"); }
inline const std::string& data_channel_error() { return GBK("设置数据通道错误"); }
inline const std::string& trying_active() { return GBK("尝试主动模式连接"); }
inline const std::string& active_failed() { return GBK("设置主动模式失败"); }
inline const std::string& no_reply() { return GBK("获得返回信息失败"); }
inline const std::string& restart_supported() { return GBK("站点支持断点续传"); }
inline const std::string& restart_unsupported() { return GBK("站点不支持断点续传"); }
inline const std::string& redirected() { return GBK("重定向到 [%s]"); }
inline const std::string& auto_renamed() { return GBK("发现同名文件, 系统自动更名为%s"); }
inline const std::string& rename_exhausted() { return GBK("发现同名文件，超过系统自动更名次数"); }
inline const std::string& user_gave_up() { return GBK("发现同名文件, 用户选择放弃下载"); }
inline const std::string& user_renamed() { return GBK("发现同名文件, 用户更名为%s"); }
inline const std::string& create_failed() {
    return GBK("创建文件错误，超出最大支持下载长度或磁盘是可写或磁盘没有空间");
}
inline const std::string& open_failed() { return GBK("打开文件失败，请检查磁盘是否存在 %s 这个文件"); }
inline const std::string& head_too_long() { return GBK("HTTP返回头部信息过长"); }
inline const std::string& http_error() { return GBK("出现错误"); }
inline const std::string& http_unsupported() { return GBK("暂时不支持的返回, 返回号[%d]"); }
// Texts of our own for cases the list above does not name.
inline const std::string& connection_lost() { return GBK("连接中断, 数据未收完"); }
inline const std::string& too_many_redirects() { return GBK("重定向次数过多"); }
inline const std::string& length_changed() { return GBK("服务器上的文件长度已改变"); }
inline const std::string& remote_file_changed() { return GBK("服务器上的文件已改变, 从头开始下载"); }
inline const std::string& name_taken() { return GBK("文件名已被占用"); }
inline const std::string& cannot_write() { return GBK("无法写入 %s：%s"); }
inline const std::string& size_mismatch() { return GBK("文件长度与服务器所给的不符"); }
inline const std::string& content_differs() { return GBK("服务器收到的内容与本地文件不符"); }
inline const std::string& content_verified() { return GBK("服务器收到的内容与本地文件一致"); }
inline const std::string& content_unchecked() { return GBK("服务器未能核对收到的内容"); }
inline const std::string& content_mismatch() { return GBK("文件内容与服务器的校验值不符"); }
inline const std::string& content_retry() { return GBK("文件内容与服务器的校验值不符, 从头开始下载"); }

// clang-format on

}  // namespace qorvel::engine::msg
