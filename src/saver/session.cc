#include "saver/session.h"

#include <exception>

namespace quenvale {

SaverSession::SaverSession(ZipFileSettings& data, ValueStore& store, SaverMode mode,
                           RandomSource& random, SessionHost& host)
    : data_(data), store_(store), mode_(mode), random_(random), host_(host) {}

SaverSession::~SaverSession() = default;

bool SaverSession::Open() {
  data_.ListSets();
  try {
    settings_ = std::make_unique<Settings>(data_, store_);
  } catch (const std::exception& e) {
    host_.ReportFailure(e.what());
    return false;
  }
  if (data_.Sets().empty()) {
    host_.ReportFailure("The data file holds no pictures to show.");
    return false;
  }
  return true;
}

Saver& SaverSession::Build() {
  if (saver_ == nullptr) saver_ = std::make_unique<Saver>(data_, *settings_, mode_, random_);
  return *saver_;
}

bool SaverSession::Start(int32_t width, int32_t height) {
  Build();
  saver_->SetClientSize(width, height);
  try {
    saver_->FormCreate(width, height);
  } catch (const std::exception& e) {
    host_.ReportFailure(e.what());
    return false;
  }
  return true;
}

void SaverSession::Bind(DrawDevice& device) {
  saver_->ImageList().Initialized(device);
  saver_->ImageList().Restored();
}

void SaverSession::Close() {
  if (closed_ || settings_ == nullptr) return;
  closed_ = true;
  try {
    settings_->Close();
  } catch (const std::exception& e) {
    host_.ReportFailure(e.what());
  }
}

}  // namespace quenvale
