// The custom controls of the unit BrindelsHelper, in one include.
#pragma once

#include "controls/BDCheckBox.h"
#include "controls/BDCheckBoxCharset.h"
#include "controls/BDMemo.h"
#include "controls/BDPanel.h"
#include "controls/BDRadioButton.h"
#include "controls/BDRadioButtonCharset.h"
#include "controls/BDTouchPanel.h"
#include "controls/BrindelsHelper.h"
#include "controls/Font.h"
