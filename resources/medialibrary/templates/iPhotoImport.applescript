-- Files the photos of a folder (or one photo) into the album of that name,
-- making the album when it is missing.
tell media library
	set theAlbum to album "(PhotosConduit:AlbumName)" creating
	add photos "(PhotosConduit:FolderPath)" to album "(PhotosConduit:AlbumName)"
end tell
