#include "shell/command_table.h"

#include "shell/shell_commands.h"

namespace {

constexpr menu_entry popup(const char* text) { return {_menu_popup, 0, text, nullptr}; }
constexpr menu_entry end() { return {_menu_end, 0, nullptr, nullptr}; }
constexpr menu_entry separator() { return {_menu_separator, 0, nullptr, nullptr}; }
constexpr menu_entry item(uint16_t id, const char* text, void (*run)()) { return {_menu_item, id, text, run}; }
constexpr menu_entry check_item(uint16_t id, const char* text, void (*run)()) {
  return {_menu_check_item, id, text, run};
}

const menu_entry menu_bar[] = {
    popup("&File"),
    item(COMMAND_NEW_MAP, "&New Map...", CommandNewMap),
    item(COMMAND_OPEN_MAP, "&Open Map...", CommandOpenMap),
    item(COMMAND_CLOSE_MAP, "&Close Map", CommandCloseMap),
    separator(),
    item(COMMAND_SAVE_MAP, "&Save Map", CommandSaveMap),
    item(COMMAND_QUIT, "&Quit", CommandQuit),
    end(),

    popup("&Edit"),
    item(COMMAND_UNDO, "&Undo\tCtrl-Z", CommandUndo),
    item(COMMAND_REDO, "&Redo\tCtrl-Y", CommandRedo),
    separator(),
    // Cut, Copy and Paste have no work behind them and stay disabled.
    item(COMMAND_CUT, "&Cut\tCtrl-X", nullptr),
    item(COMMAND_COPY, "C&opy\tCtrl-C", nullptr),
    item(COMMAND_PASTE, "&Paste\tCtrl-V", nullptr),
    item(COMMAND_DUPLICATE, "&Duplicate\tCtrl-D", CommandDuplicate),
    separator(),
    item(COMMAND_VIEW_PREFERENCES, "&View Preferences...", CommandViewPreferences),
    item(COMMAND_TOOL_PREFERENCES, "&Tool Preferences...", CommandToolPreferences),
    end(),

    popup("&Maps"),
    popup("Shadow Map"),
    item(COMMAND_UNPROTECT_ALL_SUBMESHES, "Unprotect All Submeshes", CommandUnprotectAllSubmeshes),
    separator(),
    item(COMMAND_NO_SHADOWS, "No Shadows", CommandNoShadows),
    item(COMMAND_BASIC_LIGHTING, "Basic Lighting", CommandBasicLighting),
    item(COMMAND_ADD_MESH_SHADING, "Add Mesh Shading", CommandAddMeshShading),
    item(COMMAND_ADD_MODEL_SHADING, "Add Model Shading", CommandAddModelShading),
    separator(),
    item(COMMAND_IMPORT_SHADOW_MAP, "Import...", CommandImportShadowMap),
    item(COMMAND_EXPORT_SHADOW_MAP, "Export...", CommandExportShadowMap),
    separator(),
    item(COMMAND_CALCULATE_MODEL_ANIMATION_SHADOWS, "Calculate Model Animation Shadows",
         CommandCalculateModelAnimationShadows),
    item(COMMAND_REMOVE_MODEL_ANIMATION_SHADOWS, "Remove Model Animation Shadows",
         CommandRemoveModelAnimationShadows),
    end(),
    popup("Color Map"),
    item(COMMAND_IMPORT_COLOR_MAP, "Import...", CommandImportColorMap),
    item(COMMAND_EXPORT_COLOR_MAP, "Export...", CommandExportColorMap),
    end(),
    popup("Reflection Map"),
    item(COMMAND_IMPORT_REFLECTION_MAP, "Import...", CommandImportReflectionMap),
    item(COMMAND_EXPORT_REFLECTION_MAP, "Export...", CommandExportReflectionMap),
    end(),
    popup("Displacement Map"),
    item(COMMAND_EDIT_DISPLACEMENT_RANGE, "Edit Range...", CommandEditDisplacementRange),
    item(COMMAND_IMPORT_DISPLACEMENT_MAP, "Import...", CommandImportDisplacementMap),
    item(COMMAND_EXPORT_DISPLACEMENT_MAP, "Export...", CommandExportDisplacementMap),
    item(COMMAND_IMPORT_WATER_LEVEL, "Import Water Level...", CommandImportWaterLevel),
    item(COMMAND_EXPORT_WATER_LEVEL, "Export Water Level...", CommandExportWaterLevel),
    end(),
    popup("Terrain Map"),
    item(COMMAND_IMPORT_TERRAIN_MAP, "Import...", CommandImportTerrainMap),
    item(COMMAND_EXPORT_TERRAIN_MAP, "Export...", CommandExportTerrainMap),
    end(),
    end(),

    popup("M&odels"),
    item(COMMAND_SET_MODEL_LOCATION, "Set Model Location...", CommandSetModelLocation),
    end(),

    popup("Mes&h"),
    check_item(COMMAND_BOUNDED_OBSERVER, "Bounded Observer", CommandBoundedObserver),
    item(COMMAND_DROP_OBSERVER, "Drop Observer", CommandDropObserver),
    separator(),
    item(COMMAND_SET_HEIGHT, "Set Height...", CommandSetHeight),
    item(COMMAND_SET_HEIGHT_TO_ZERO, "Set Height to Zero", CommandSetHeightToZero),
    item(COMMAND_SET_MEDIA_HEIGHT, "Set Media Height...", CommandSetMediaHeight),
    item(COMMAND_SET_ALL_MEDIA_HEIGHTS, "Set All Media Heights...", CommandSetAllMediaHeights),
    separator(),
    item(COMMAND_EDIT_JITTER_AMOUNT, "Edit Jitter Amount...", CommandEditJitterAmount),
    item(COMMAND_JITTER_SELECTED_VERTICES, "Jitter Selected Vertices\tCtrl-J", CommandJitterSelectedVertices),
    separator(),
    item(COMMAND_EDIT_MESH_EDGE_RAISE_AMOUNT, "Edit Mesh Edge Raise Amount...", CommandEditMeshEdgeRaiseAmount),
    item(COMMAND_RAISE_MESH_EDGES, "Raise Mesh Edges", CommandRaiseMeshEdges),
    item(COMMAND_MAKE_MESH_EDGES_IMPASSABLE, "Make Mesh Edges Impassable", CommandMakeMeshEdgesImpassable),
    separator(),
    item(COMMAND_SET_MESH_PARAMETERS, "Set Mesh Parameters...", CommandSetMeshParameters),
    item(COMMAND_SHIFT_MESH_AND_MARKERS, "Shift Mesh && Markers...", CommandShiftMeshAndMarkers),
    item(COMMAND_RECOMPUTE_MESH_LOD, "Recompute Mesh LOD\tCtrl-R", CommandRecomputeMeshLod),
    separator(),
    item(COMMAND_EXPORT_MAP_ACTIONS, "Export Map Actions...", CommandExportMapActions),
    item(COMMAND_IMPORT_MAP_ACTIONS, "Import Map Actions...", CommandImportMapActions),
    separator(),
    check_item(COMMAND_CREATE_NEW_CONNECTOR, "Create New Connector", CommandCreateNewConnector),
    item(COMMAND_REMOVE_CONNECTOR_FROM_SELECTION, "Remove Connector from Selection",
         CommandRemoveConnectorFromSelection),
    item(COMMAND_REMOVE_ALL_CONNECTORS, "Remove All Connectors", CommandRemoveAllConnectors),
    separator(),
    item(COMMAND_MESH_LIMITS, "Mesh Limits...", CommandMeshLimits),
    end(),

    popup("&Selection"),
    item(COMMAND_EDIT_MARKER, "Edit Marker...", CommandEditMarker),
    item(COMMAND_ROTATE_SELECTION, "Rotate Selection...", CommandRotateSelection),
    separator(),
    item(COMMAND_CREATE_DATA_CONTAINER, "Create Data Container...", CommandCreateDataContainer),
    item(COMMAND_CREATE_SQUAD, "Create Squad...", CommandCreateSquad),
    item(COMMAND_CREATE_OBSERVER_MOVEMENT_ACTION, "Create Observer Movement Action...",
         CommandCreateObserverMovementAction),
    end(),

    popup("&Windows"),
    item(COMMAND_WINDOW_VISUAL, "Visual", CommandWindowVisual),
    item(COMMAND_WINDOW_OVERHEAD, "Overhead", CommandWindowOverhead),
    item(COMMAND_WINDOW_TOOLS, "Tools", CommandWindowTools),
    separator(),
    item(COMMAND_ZOOM_IN, "Zoom In\t+", CommandZoomIn),
    item(COMMAND_ZOOM_OUT, "Zoom Out\t-", CommandZoomOut),
    end(),
};

const accelerator_entry accelerators[] = {
    {"+", COMMAND_ZOOM_IN},          {"-", COMMAND_ZOOM_OUT},        {"Ctrl+C", COMMAND_COPY},
    {"Ctrl+D", COMMAND_DUPLICATE},   {"Ctrl+J", COMMAND_JITTER_SELECTED_VERTICES},
    {"Ctrl+N", COMMAND_NEW_MAP},     {"Ctrl+O", COMMAND_OPEN_MAP},   {"Ctrl+Q", COMMAND_QUIT},
    {"Ctrl+R", COMMAND_RECOMPUTE_MESH_LOD},                          {"Ctrl+S", COMMAND_SAVE_MAP},
    {"Ctrl+V", COMMAND_PASTE},       {"Ctrl+W", COMMAND_CLOSE_MAP},  {"Ctrl+X", COMMAND_CUT},
    {"Ctrl+Z", COMMAND_UNDO},        {"Ctrl+Y", COMMAND_REDO},       {"Ctrl+Shift+Z", COMMAND_REDO},
};

}  // namespace

std::span<const menu_entry> menu_bar_entries() { return menu_bar; }

const menu_entry* menu_entry_find(int32_t id) {
  if (id <= 0) return nullptr;
  for (const menu_entry& entry : menu_bar) {
    if ((entry.kind == _menu_item || entry.kind == _menu_check_item) && entry.id == id) return &entry;
  }
  return nullptr;
}

std::span<const accelerator_entry> accelerator_entries() { return accelerators; }
