#include "migrate/copy_marker.h"

#include <fstream>
#include <sstream>

namespace velquin {
namespace {

std::filesystem::path MarkerPath(const std::filesystem::path& data_dir, const std::string& stem) {
  return data_dir / (stem + ".copying");
}

Status WriteMarker(const std::filesystem::path& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text << "\n";
  f.close();
  if (!f) return Status::IOError("cannot write " + path.string());
  return Status::Ok();
}

}  // namespace

Status MarkCopyStarted(const std::filesystem::path& data_dir, const std::string& stem) {
  return WriteMarker(MarkerPath(data_dir, stem), "started");
}

Status MarkCopyEnded(const std::filesystem::path& data_dir, const std::string& stem, bool complete,
                     const std::string& how) {
  const std::filesystem::path path = MarkerPath(data_dir, stem);
  if (!complete) return WriteMarker(path, how);
  std::error_code ec;
  std::filesystem::remove(path, ec);
  if (ec) return Status::IOError("cannot remove " + path.string() + ": " + ec.message());
  return Status::Ok();
}

std::optional<std::string> HalfCopiedMarker(const std::filesystem::path& data_dir,
                                            const std::string& stem) {
  std::ifstream f(MarkerPath(data_dir, stem), std::ios::binary);
  if (!f) return std::nullopt;
  std::string line;
  std::getline(f, line);
  return line.empty() ? std::string("started") : line;
}

}  // namespace velquin
