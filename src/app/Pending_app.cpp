// Placeholders until the main window's behaviour is built; each goes as its real definition lands.
#include "app/Mainform.h"

void TformMain::FormShow() {}
void TformMain::FormClose() {}
void TformMain::FormDestroy() {}
void TformMain::menuExitClick() { close(); }
void TformMain::menuShowGuideClick() {}
void TformMain::menuManualEntryClick() {}
void TformMain::menuAboutClick() {}
void TformMain::menuOptionsClick() {}
void TformMain::FormKeyPress(QChar) {}
void TformMain::pbSensorMouseEnter() {}
void TformMain::pbSensorMouseLeave() {}
void TformMain::LoadSettings() {}
void TformMain::StoreSettings() {}
void TformMain::timerPortServiceTimer() {}
void TformMain::EnableSensorControls(bool) {}
void TformMain::StartSearch(const _TAutoDetectArrayEntry &) {}
void TformMain::SearchTick() {}
void TformMain::menuSearchClick() {}
bool TformMain::CheckFirmware() { return true; }
void TformMain::StartReadConfig() {}
void TformMain::ReadConfigTick() {}
void TformMain::StartWriteConfig() {}
void TformMain::WriteConfigTick() {}
void TformMain::StartMeasurement(bool) {}
void TformMain::MeasurementTick() {}
void TformMain::StartChannelUpload() {}
void TformMain::ChannelUploadTick() {}
void TformMain::ManualReplyTick() {}
void TformMain::ShowLostEcho() {}
void TformMain::UpdateSensorHeightDisplay() {}
int TformMain::TrackThumbY(QSlider *) const { return 0; }
void TformMain::trackSensorHeightChange() {}
void TformMain::btnHeightUpClick() {}
void TformMain::btnHeightDownClick() {}
void TformMain::cbSetMaxHeightClick() {}
void TformMain::cbLostEchoChange() {}
void TformMain::editLostEchoValueChange() {}
