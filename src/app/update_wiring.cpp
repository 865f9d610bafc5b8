#include "app/update_wiring.h"

namespace taskhaul {

UpdateWiring::UpdateWiring(MessageBoxes& boxes, const QString& site)
    : windows_(frm_message_, frm_download_)
    , news_(QUrl(site + update_site::kNewsPath))
    , flow_(WebUpdate1_, windows_, boxes, news_)
{
    configureWebUpdate(WebUpdate1_, site);
    WebUpdate1_.setInstallerLauncher(&launcher_);
}

UpdateWiring::~UpdateWiring()
{
    WebUpdate1_.CancelTransfer();
}

void UpdateWiring::Action16Execute()
{
    flow_.Action16Execute();
}

} // namespace taskhaul
