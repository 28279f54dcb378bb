#include "devices/afc/AfcService.h"

#include <mutex>

namespace vtr::afc {

namespace {

std::mutex g_mutex;
std::shared_ptr<AfcService> g_service;

} // namespace

std::shared_ptr<AfcService> sharedAfcService()
{
    std::lock_guard lock(g_mutex);
    if (!g_service) g_service = makeLibraryAfcService();
    return g_service;
}

void setSharedAfcService(std::shared_ptr<AfcService> service)
{
    std::lock_guard lock(g_mutex);
    g_service = std::move(service);
}

} // namespace vtr::afc
