// The module's single control object: the call log tests read and the
// failures they inject. Every device operation that can be logged or made
// to fail goes through here.
#pragma once

#include "d3d8test.h"

#include <array>
#include <string>
#include <vector>

namespace d3d8soft {

class TControl final : public ID3D8SoftControl {
public:
    static TControl& Instance();

    void StartCallLog() override { logging_ = true; }
    void StopCallLog() override { logging_ = false; }
    void ClearCallLog() override { log_.clear(); }
    std::vector<D3DCallRecord> CallLog() const override { return log_; }
    std::vector<std::string> CallLogText() const override;

    void FailNext(D3DFailPoint point, int count) override;
    void SetFailAlways(D3DFailPoint point, bool fail) override;
    void ClearFailures() override;

    int LiveObjects() const override { return liveObjects_; }
    void ForcePlainPixelPipeline(bool force) override { plainPixels_ = force; }
    bool PlainPixelPipeline() const { return plainPixels_; }

    bool Logging() const { return logging_; }
    void Record(D3DCallRecord record);
    // True when this call of the operation is to fail; consumes one of the
    // counted failures.
    bool ShouldFail(D3DFailPoint point);

    void ObjectCreated() { ++liveObjects_; }
    void ObjectDestroyed() { --liveObjects_; }

private:
    bool logging_ = false;
    std::vector<D3DCallRecord> log_;
    std::array<int, static_cast<size_t>(D3DFailPoint::Count)> failNext_{};
    std::array<bool, static_cast<size_t>(D3DFailPoint::Count)> failAlways_{};
    int liveObjects_ = 0;
    bool plainPixels_ = false;
};

// A log entry for a call on object, with its readable form.
D3DCallRecord MakeCall(D3DCallKind kind, const void* object, std::string text);
// Records the entry with the call's result and answers the result.
HRESULT Logged(D3DCallRecord record, HRESULT result);

// Public names of the enumerations, for readable log entries; an unknown
// value is written as its number.
std::string RenderStateName(DWORD state);
std::string StageStateName(DWORD type);
std::string TransformName(DWORD state);
std::string PrimitiveName(DWORD type);
std::string FormatName(DWORD format);
std::string Hex(DWORD value);

}  // namespace d3d8soft
