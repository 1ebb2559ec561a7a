// CPrintSettings: the print settings group of the configuration dialog, the
// media list, the speed/quality slider and the bidirectional and banding
// reduction boxes, kept consistent with each other while the user edits.
#pragma once
#include <windows.h>

#include <cstdint>

class CPrintSettings {
 public:
  CPrintSettings() noexcept = default;
  virtual ~CPrintSettings() = default;
  CPrintSettings(const CPrintSettings&) = delete;
  CPrintSettings& operator=(const CPrintSettings&) = delete;

  [[nodiscard]] bool Init(HWND dialog, int32_t media, int32_t quality, bool bidirectional,
                          bool bandingReduction) noexcept;
  [[nodiscard]] bool OnMediaTypeChanged() noexcept;
  void OnQualityChanged() noexcept;

  // What the save takes from the controls.
  int32_t MediaSelection() const noexcept;
  int32_t SliderPosition() const noexcept;
  bool Bidirectional() const noexcept;
  bool BandingReduction() const noexcept;

 private:
  void DisableQualityControls();
  void PostSliderPosition(int32_t position) const;

  HWND mediaList_ = nullptr;
  HWND qualitySlider_ = nullptr;
  HWND speedLabel_ = nullptr;
  HWND qualityLabel_ = nullptr;
  HWND bidirectionalBox_ = nullptr;
  HWND bandingBox_ = nullptr;
  int32_t media_ = 0;
  int32_t sliderPosition_ = 0;
};
