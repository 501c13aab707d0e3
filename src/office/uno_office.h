#pragma once

#include <chrono>
#include <string>

#include "office/office_bridge.h"
#include "office/office_paste.h"
#include "office/office_server.h"

namespace benchcap::office {

// How Benchcap reaches a running LibreOffice: through LibreOffice's Python UNO binding,
// in a helper process (benchcap_office_uno.py) that answers one JSON line per request.
// A process of its own keeps LibreOffice's libraries out of Benchcap and lets a hung
// office be cut off by killing the helper.
struct UnoOfficeSettings {
    // The UNO connection LibreOffice accepts (soffice --accept="pipe,name=benchcap;urp;").
    std::string connection = "pipe,name=benchcap";
    // A Python that has LibreOffice's "uno" module, and the helper script.
    std::string python = "python3";
    std::string script;
    // Longest wait for one answer; the helper's start and the attach count as one.
    std::chrono::milliseconds timeout{10000};

    // BENCHCAP_OFFICE (connection), BENCHCAP_OFFICE_PYTHON (interpreter, else the
    // system's /usr/bin/python3 where python3-uno installs, else python3 on the PATH) and
    // the helper beside the program (or in ../share/benchcap, or in the source tree).
    static UnoOfficeSettings fromEnvironment();
};

// `text` as one word of a POSIX shell command line: in double quotes, or in single quotes
// when it holds characters the shell would read inside double quotes.
std::string shellQuoted(const std::string& text);

class UnoOffice final : public OfficeServer {
  public:
    explicit UnoOffice(UnoOfficeSettings settings) : settings_(std::move(settings)) {}
    Attachment attach() override;
    const UnoOfficeSettings& settings() const { return settings_; }

  private:
    UnoOfficeSettings settings_;
};

// The program's office bridge: pastes into the running LibreOffice.
class LibreOfficeBridge final : public OfficeBridge {
  public:
    explicit LibreOfficeBridge(bus::UserInterface& boxes,
                               UnoOfficeSettings settings = UnoOfficeSettings::fromEnvironment())
        : server_(std::move(settings)), paste_(server_, boxes) {}
    Status PasteInWord(std::string_view pictureFile) override {
        return paste_.PasteInWord(pictureFile);
    }
    Status PasteInExcel(const trace::TraceField& field) override {
        return paste_.PasteInExcel(field);
    }

  private:
    UnoOffice server_;
    OfficePaste paste_;
};

}  // namespace benchcap::office
