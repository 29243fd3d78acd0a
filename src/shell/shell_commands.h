// The procedures behind the menu commands. Each turns one command into calls into the module that
// does the work; the command table names them.
#pragma once

// File
void CommandNewMap();
void CommandOpenMap();
void CommandCloseMap();
void CommandSaveMap();
void CommandQuit();

// Edit
void CommandUndo();
void CommandRedo();
void CommandDuplicate();
void CommandViewPreferences();
void CommandToolPreferences();

// Maps
void CommandUnprotectAllSubmeshes();
void CommandNoShadows();
void CommandBasicLighting();
void CommandAddMeshShading();
void CommandAddModelShading();
void CommandImportShadowMap();
void CommandExportShadowMap();
void CommandCalculateModelAnimationShadows();
void CommandRemoveModelAnimationShadows();
void CommandImportColorMap();
void CommandExportColorMap();
void CommandImportReflectionMap();
void CommandExportReflectionMap();
void CommandEditDisplacementRange();
void CommandImportDisplacementMap();
void CommandExportDisplacementMap();
void CommandImportWaterLevel();
void CommandExportWaterLevel();
void CommandImportTerrainMap();
void CommandExportTerrainMap();

// Models
void CommandSetModelLocation();

// Mesh
void CommandBoundedObserver();
void CommandDropObserver();
void CommandSetHeight();
void CommandSetHeightToZero();
void CommandSetMediaHeight();
void CommandSetAllMediaHeights();
void CommandEditJitterAmount();
void CommandJitterSelectedVertices();
void CommandEditMeshEdgeRaiseAmount();
void CommandRaiseMeshEdges();
void CommandMakeMeshEdgesImpassable();
void CommandSetMeshParameters();
void CommandShiftMeshAndMarkers();
void CommandRecomputeMeshLod();
void CommandExportMapActions();
void CommandImportMapActions();
void CommandCreateNewConnector();
void CommandRemoveConnectorFromSelection();
void CommandRemoveAllConnectors();
void CommandMeshLimits();

// Selection
void CommandEditMarker();
void CommandRotateSelection();
void CommandCreateDataContainer();
void CommandCreateSquad();
void CommandCreateObserverMovementAction();

// Windows
void CommandWindowVisual();
void CommandWindowOverhead();
void CommandWindowTools();
void CommandZoomIn();
void CommandZoomOut();
