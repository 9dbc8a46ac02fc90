#include "ui/wizard/TaskPage.h"

namespace brevanto::wizard {

CTaskPage::CTaskPage(CSheetContext& context, QString tabTitle)
    : m_context(context), m_title(std::move(tabTitle)) {}

CTaskPage::~CTaskPage() = default;

}  // namespace brevanto::wizard
