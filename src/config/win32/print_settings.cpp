#include "config/win32/print_settings.h"

#include <commctrl.h>

#include "resources/resource_ids.h"
#include "config/dialog_rules.h"
#include "config/win32/dialog_controls.h"

namespace {

constexpr UINT kLabelStrings[] = {IDS_PRINT_SETTINGS, IDS_MEDIA_TYPE,    IDS_PRINT_QUALITY,    IDS_SPEED,
                                  IDS_QUALITY,        IDS_BIDIRECTIONAL, IDS_BANDING_REDUCTION};
constexpr int kLabelControls[] = {IDC_PRINT_GROUP,   IDC_MEDIA_LABEL,   IDC_PRINT_QUALITY_LABEL, IDC_SPEED_LABEL,
                                  IDC_QUALITY_LABEL, IDC_BIDIRECTIONAL, IDC_BANDING_REDUCTION};
constexpr int kSliderTicFrequency = 1;
constexpr int kSliderPageSize = 1;

}  // namespace

bool CPrintSettings::Init(HWND dialog, int32_t media, int32_t quality, bool bidirectional,
                          bool bandingReduction) noexcept {
  try {
    mediaList_ = GetDlgItem(dialog, IDC_MEDIA_LIST);
    qualitySlider_ = GetDlgItem(dialog, IDC_QUALITY_SLIDER);
    bidirectionalBox_ = GetDlgItem(dialog, IDC_BIDIRECTIONAL);
    bandingBox_ = GetDlgItem(dialog, IDC_BANDING_REDUCTION);
    speedLabel_ = GetDlgItem(dialog, IDC_SPEED_LABEL);
    qualityLabel_ = GetDlgItem(dialog, IDC_QUALITY_LABEL);
    const HINSTANCE instance = DialogInstance(dialog);

    for (size_t i = 0; i < std::size(kLabelStrings); ++i) {
      if (!SetLabel(dialog, instance, kLabelStrings[i], kLabelControls[i])) return false;
    }
    for (int32_t entry = 0; entry < kMediaCount; ++entry) {
      TextBuffer text;
      if (!LoadText(instance, IDS_MEDIA_FIRST + entry, text)) return false;
      if (SendMessageW(mediaList_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.data())) == CB_ERR) return false;
    }
    if (SendMessageW(mediaList_, CB_SETCURSEL, static_cast<WPARAM>(media), 0) == CB_ERR) return false;

    // Posted, not sent: the slider takes range and position once the dialog's
    // initialisation has returned.
    if (!PostMessageW(qualitySlider_, TBM_SETRANGE, TRUE, MAKELPARAM(kSliderSpeed, kSliderQuality)) ||
        !PostMessageW(qualitySlider_, TBM_SETTICFREQ, kSliderTicFrequency, 0) ||
        !PostMessageW(qualitySlider_, TBM_SETPAGESIZE, 0, kSliderPageSize)) {
      return false;
    }
    PostSliderPosition(quality);
    sliderPosition_ = quality;

    if (bidirectional) SetChecked(bidirectionalBox_, true);
    const QualityControls target = QualityControlsAtStart(media, quality, bandingReduction);
    if (target.sliderEnabled) {
      SetChecked(bandingBox_, target.bandingChecked);
      if (!target.bandingEnabled) SwitchEnabledOrThrow(bandingBox_, false);
    } else {
      DisableQualityControls();
    }
    media_ = media;
    return true;
  } catch (...) {
    return false;
  }
}

bool CPrintSettings::OnMediaTypeChanged() noexcept {
  try {
    const auto selection = static_cast<int32_t>(SendMessageW(mediaList_, CB_GETCURSEL, 0, 0));
    if (selection == media_) return true;
    const QualityControls target = QualityControlsForMedia(selection);
    if (!target.sliderEnabled) {
      PostSliderPosition(target.sliderPosition);
      sliderPosition_ = target.sliderPosition;
      DisableQualityControls();
    } else {
      if (media_ == kPlainPaper) {
        SwitchEnabledOrThrow(qualitySlider_, true);
        SwitchEnabledOrThrow(speedLabel_, true);
        SwitchEnabledOrThrow(qualityLabel_, true);
      }
      EnableWindow(bandingBox_, target.bandingEnabled);
      PostSliderPosition(target.sliderPosition);
      sliderPosition_ = target.sliderPosition;
      SetChecked(bandingBox_, target.bandingChecked);
    }
    media_ = selection;
    return true;
  } catch (...) {
    return false;
  }
}

void CPrintSettings::OnQualityChanged() noexcept {
  const int32_t position = SliderPosition();
  if (position == sliderPosition_) return;
  const QualityControls target = QualityControlsForSlider(position, IsChecked(bandingBox_));
  SetChecked(bandingBox_, target.bandingChecked);
  EnableWindow(bandingBox_, target.bandingEnabled);
  sliderPosition_ = position;
}

int32_t CPrintSettings::MediaSelection() const noexcept {
  return static_cast<int32_t>(SendMessageW(mediaList_, CB_GETCURSEL, 0, 0));
}

int32_t CPrintSettings::SliderPosition() const noexcept {
  return static_cast<int32_t>(SendMessageW(qualitySlider_, TBM_GETPOS, 0, 0));
}

bool CPrintSettings::Bidirectional() const noexcept { return IsChecked(bidirectionalBox_); }

bool CPrintSettings::BandingReduction() const noexcept { return IsChecked(bandingBox_); }

void CPrintSettings::DisableQualityControls() {
  SwitchEnabledOrThrow(qualitySlider_, false);
  SwitchEnabledOrThrow(speedLabel_, false);
  SwitchEnabledOrThrow(qualityLabel_, false);
  SetChecked(bandingBox_, false);
  EnableWindow(bandingBox_, FALSE);
}

void CPrintSettings::PostSliderPosition(int32_t position) const {
  if (!PostMessageW(qualitySlider_, TBM_SETPOS, TRUE, position)) throw SectionFailure{};
}
