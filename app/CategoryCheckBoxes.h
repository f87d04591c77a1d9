#pragma once
// The export category boxes and their rules: "Geral" (the full export) and
// the categories "Dados", "Áudios" and "Músicas" exclude each other. A change
// a rule makes counts as a click on that box: its own rule runs at once,
// before the rule that made the change goes on.

#include <QCheckBox>

namespace vz {

class CategoryCheckBoxes {
public:
    CategoryCheckBoxes(QCheckBox* chkDados, QCheckBox* chkAudios, QCheckBox* chkMusicas, QCheckBox* chkGeral);

    // The rules, as run for a click on the box (the box already has its new state).
    void chkGeralClick();
    void chkAudiosClick();  // for chkAudios and chkMusicas

private:
    // Sets a box; a real change runs that box's rule.
    void setByRule(QCheckBox* box, bool checked);

    QCheckBox* chkDados_;
    QCheckBox* chkAudios_;
    QCheckBox* chkMusicas_;
    QCheckBox* chkGeral_;
};

}  // namespace vz
