#include "ui/report/renderer.h"

#include <atomic>

namespace korawin::ui::report {

namespace {
std::atomic<PageRenderer*> installed{nullptr};
}  // namespace

PageRenderer* SetPageRenderer(PageRenderer* renderer) { return installed.exchange(renderer); }

PageRenderer* CurrentPageRenderer() { return installed.load(); }

}  // namespace korawin::ui::report
