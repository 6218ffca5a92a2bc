#pragma once
// Finding cards: the drive table of drives 1 to 9 built from card readers'
// whole-disk block devices and from card images in the card folder.
//
// Gathering facts (drive_facts.h) and deciding what to list (drive_rules.h)
// are separate steps; the numbering and the probing scan live in
// drive_table.h, the watch for changes in media_monitor.h.
#include "card/drive_facts.h"
#include "card/drive_rules.h"
#include "card/drive_table.h"
#include "card/media_monitor.h"
