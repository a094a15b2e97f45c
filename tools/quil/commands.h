// The quil subcommands. Each returns the exit status or throws Failure.
#pragma once

#include <cstdint>
#include <string>

#include "disc_session.h"

namespace quiltool {

struct TransferOptions {
  bool progress = true;  // on standard error, when it is a terminal
};

int info(const DiscChoice& disc);
int list(const DiscChoice& disc, const std::string& pattern, bool longFormat, bool recursive);
int cat(const DiscChoice& disc, const std::string& path);
int get(const DiscChoice& disc, const std::string& discPath, const std::string& hostFile, const TransferOptions& t);
int put(const DiscChoice& disc, const std::string& hostFile, const std::string& discPath, const TransferOptions& t);
int record(const DiscChoice& disc, const std::string& hostFile, const std::string& clip, const TransferOptions& t);
int remove(const DiscChoice& disc, const std::string& path);
int move(const DiscChoice& disc, const std::string& from, const std::string& to);
int makeDirectory(const DiscChoice& disc, const std::string& path);
int removeDirectory(const DiscChoice& disc, const std::string& path);
int label(const DiscChoice& disc, const std::string* text);
int lock(const DiscChoice& disc, const std::string& path, bool locked);
int clipId(const DiscChoice& disc, const std::string& path);
int showLog(size_t tail);
int errorText(const std::string& code);
int demo(const std::string& root);

}  // namespace quiltool
