#include "import/ImportServices.h"

namespace vz {

void ShowRunMessage(const ImportServices& services, const QString& text)
{
    MessageRequest request;
    request.caption = services.title;
    request.text = text;
    services.dialogs.showMessage(request);
}

}  // namespace vz
