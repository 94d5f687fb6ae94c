#pragma once
// The open and save dialogs of marker templates (.mrk), in the markers
// folder, and the box that says a template could not be read or written.
#include <QString>

#include <string>

#include "markers/BuildVariant.h"

class QWidget;

namespace korchart {
KORCHART_VARIANT_BEGIN

// The file chosen ("" when the dialog was cancelled).
std::string ChooseMarkerTemplate(QWidget* parent, bool save);
void SayMarkerTemplateFailed(bool save);

KORCHART_VARIANT_END
}  // namespace korchart
